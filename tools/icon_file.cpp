#include "tools/icon_file.h"

#include <string.h>

#include "archive/records.h"

namespace {

enum : uint32_t {
    kIconHeaderSize = 6,
    kIconEntrySize = 16,
    kGroupEntrySize = 14,
    kBitmapHeaderSize = 40,   // BITMAPINFOHEADER; later versions of it are longer
};

const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsBitmap(const std::vector<uint8_t>& image) {
    if (image.size() < kBitmapHeaderSize) return false;
    const uint32_t header = ReadLe32(&image[0]);
    const int32_t width = (int32_t)ReadLe32(&image[4]), height = (int32_t)ReadLe32(&image[8]);
    return header >= kBitmapHeaderSize && header <= image.size() && width > 0 && height > 0 &&
           ReadLe16(&image[12]) == 1;
}

}  // namespace

bool ParseIconFile(const std::vector<uint8_t>& file, std::vector<IconImage>* images,
                   std::string* error) {
    images->clear();
    if (file.size() < kIconHeaderSize || ReadLe16(&file[0]) != 0 || ReadLe16(&file[2]) != 1) {
        *error = file.size() >= kIconHeaderSize && ReadLe16(&file[0]) == 0 && ReadLe16(&file[2]) == 2
                     ? "a cursor file, not an icon file"
                     : "not an icon file";
        return false;
    }
    const uint32_t count = ReadLe16(&file[4]);
    if (count == 0) {
        *error = "the icon file holds no images";
        return false;
    }
    const uint32_t images0 = kIconHeaderSize + count * kIconEntrySize;
    if (file.size() < images0) {
        *error = "the icon file's list of images runs past its end";
        return false;
    }
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = &file[kIconHeaderSize + i * kIconEntrySize];
        const uint32_t size = ReadLe32(entry + 8), offset = ReadLe32(entry + 12);
        const std::string which = "image " + std::to_string(i + 1) + " of " + std::to_string(count);
        if (size == 0) {
            *error = which + " is empty";
            return false;
        }
        if (offset < images0 || offset > file.size() || size > file.size() - offset) {
            *error = which + (offset < images0 ? " overlaps the list of images"
                                               : " runs past the end of the file");
            return false;
        }
        IconImage image;
        memcpy(image.Entry, entry, sizeof image.Entry);
        image.Bytes.assign(file.begin() + offset, file.begin() + offset + size);
        const bool png = size >= sizeof kPngSignature &&
                         memcmp(image.Bytes.data(), kPngSignature, sizeof kPngSignature) == 0;
        if (!png && !IsBitmap(image.Bytes)) {
            *error = which + " is neither a PNG image nor a bitmap";
            return false;
        }
        // Windows picks the image to show by these fields: a bitmap whose entry leaves them
        // 0 gets its own header's values.
        if (!png && ReadLe16(entry + 4) == 0 && ReadLe16(entry + 6) == 0) {
            memcpy(image.Entry + 4, &image.Bytes[12], 4);
        }
        images->push_back(std::move(image));
    }
    return true;
}

void PutIconResources(const std::vector<IconImage>& images, uint16_t groupId, uint16_t language,
                      std::vector<Resource>* resources) {
    DropResources(resources, kResourceIcon);
    DropResources(resources, kResourceGroupIcon);
    Resource group;
    group.Type.Number = kResourceGroupIcon;
    group.Name.Number = groupId;
    group.Language = language;
    group.Data.resize(kIconHeaderSize + images.size() * kGroupEntrySize);
    WriteLe16(&group.Data[2], 1);
    WriteLe16(&group.Data[4], (uint16_t)images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        uint8_t* entry = &group.Data[kIconHeaderSize + i * kGroupEntrySize];
        memcpy(entry, images[i].Entry, sizeof images[i].Entry);
        WriteLe16(entry + 12, (uint16_t)(i + 1));
        Resource image;
        image.Type.Number = kResourceIcon;
        image.Name.Number = (uint16_t)(i + 1);
        image.Language = language;
        image.Data = images[i].Bytes;
        resources->push_back(std::move(image));
    }
    resources->push_back(std::move(group));
}
