// The product's values in an installer image, as `qar sfx` writes them and `qar list` shows
// them: the title, the three destination folders and the program to start (profile/product.h
// says where the stub keeps each). Texts here are in the archive's code page.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "text/code_pages.h"

struct ProductValues {
    std::string Title;
    std::string Folder;            // the fallback destination
    std::string ProbeFolder;       // its existence selects PreferredFolder
    std::string PreferredFolder;
    std::string Program;           // relative to the destination; empty: start nothing
};

// The values an image carries (its profile at profileOffset): the profile's fields, or its
// product block when it has one. False when the block the profile names is not in the image.
bool ReadProductValues(const uint8_t* image, uint32_t size, uint32_t profileOffset,
                       ProductValues* values);

// Checks values against what the installer can hold and use: lengths within their room,
// folders absolute Windows paths, the program a relative path inside the destination. The
// first problem goes to error, naming the option it came from.
bool CheckProductValues(const ProductValues& values, std::string* error);

// Writes values into a stub image (its profile at profileOffset), which must still be the
// bare stub: into the profile's fields when the title and folders fit them and the program is
// the default one, so that the default values leave the stub unchanged; otherwise into a
// product block appended to the image. Call before PrepareStubImage, which then seals the
// image with the block included. Values must have passed CheckProductValues.
void WriteProductValues(std::vector<uint8_t>* image, uint32_t profileOffset,
                        const ProductValues& values);

