// Icon files (.ico) and the resources that carry an icon in an executable.
//
// An icon file is a header (reserved 0, type 1, the number of images), one 16-byte entry per
// image (width, height, colours, reserved, planes, bits per pixel, the image's size and file
// offset), then the images, each a PNG file or a device-independent bitmap: a
// BITMAPINFOHEADER, the colours, the picture and its mask. In an executable each image is an
// icon resource of its own, and a group-icon resource lists them: the same header, then per
// image the entry's first 12 bytes and the id of the image's resource.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/pe_resources.h"

struct IconImage {
    uint8_t Entry[12];            // width, height, colours, reserved, planes, bits per pixel, size
    std::vector<uint8_t> Bytes;   // the PNG file or the bitmap
};

// The images of an icon file. False, with why in error ("holds no images", "image 2 runs
// past the end of the file", ...), when the file is not a usable icon.
bool ParseIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                   std::string* error);

// Puts the icon into resources: its images as icon resources 1 to n, its group as the
// group-icon resource groupId, all in the given language. Every icon resource and group the
// resources held before is dropped, so that no group names an image of another icon.
void PutIconResources(const std::vector<IconImage>& images, uint16_t groupId, uint16_t language,
                      std::vector<Resource>* resources);
