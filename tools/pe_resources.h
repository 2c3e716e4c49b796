// The resources of a Windows executable: reading its resource directory (three levels: type,
// name, language, then a data entry naming the bytes by their address) and giving the image
// a new directory with more resources.
//
// The installer stub keeps its resources at the start of its last section, .rsrc, but that
// section also holds the import tables, the import address table and the installation
// profile (cmake/stub.ld), whose addresses the code has linked in. So nothing in it moves: a
// new directory, and the bytes of the resources added, are appended to the section, the
// resource entry of the data directory is pointed at it, and the resources already there
// are listed in it by their old addresses. The old directory stays behind, unread.
//
// Everything read from an image is bounds-checked: `qar list` reads other people's
// installers with this.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

enum : uint16_t {
    kResourceIcon = 3,         // one image of an icon
    kResourceVersion = 16,
    kResourceGroupIcon = 14,   // an icon: its images' sizes and the ids of their resources
};

// A resource's type or name: a number, or a name when Name is not empty.
struct ResourceId {
    uint16_t Number = 0;
    std::u16string Name;
};

struct Resource {
    ResourceId Type;
    ResourceId Name;
    uint16_t Language = 0;
    uint32_t CodePage = 0;
    // Bytes that the image holds already, at Rva (Size bytes); otherwise Data, which
    // AddResources places in the image.
    bool InImage = false;
    uint32_t Rva = 0;
    uint32_t Size = 0;
    std::vector<uint8_t> Data;
};

// The resources that the image's directory lists, each InImage with its address and size.
// The directory and every data entry must lie in file bytes of the image's sections.
// True with none when the image has no resource directory; false with the reason in error
// when the image or its directory is malformed, or lists more entries than kMostResources.
bool ReadResources(const std::vector<uint8_t>& image, std::vector<Resource>* resources,
                   std::string* error);
enum : uint32_t { kMostResources = 16384 };

// The file offset of size bytes at rva, when they all lie in the file bytes of one of the
// image's sections (and in the part of it the loader maps); false otherwise.
bool ResourceBytesAt(const std::vector<uint8_t>& image, uint32_t rva, uint32_t size,
                     uint32_t* offset);

// The directory of resources as a block to be loaded at rva: the directory tables (type,
// then name, then language; in each table the named entries first, by their code units,
// then the numbered ones in ascending order), the data entries, the names, then the Data of every
// resource that is not InImage, each at a multiple of 8 bytes.
std::vector<uint8_t> ResourceDirectoryBlock(const std::vector<Resource>& resources, uint32_t rva);

// Replaces the resource of the same type, name and language in resources, or adds it.
void PutResource(std::vector<Resource>* resources, const Resource& resource);
// Drops every resource of the numbered type.
void DropResources(std::vector<Resource>* resources, uint16_t type);

// Gives image (a PE32 or PE32+ executable) a resource directory listing resources: appends
// ResourceDirectoryBlock to its last section, which must be the one holding the current
// resource directory and must come last in the file and in memory, with nothing behind its
// file bytes. Fixes the section's sizes, SizeOfImage, SizeOfInitializedData and the
// directory's entry in the data directory. False, with the reason in error, when the image
// does not have that shape; it is then unchanged.
bool AddResources(std::vector<uint8_t>* image, const std::vector<Resource>& resources,
                  std::string* error);
