#include "tools/product_values.h"

#include <stdio.h>
#include <string.h>

#include "archive/records.h"
#include "pack/windows_names.h"
#include "profile/product.h"
#include "profile/profile.h"
#include "text/code_pages.h"

namespace {

const uint32_t kTitleOffset = offsetof(InstallProfile, Title);
const uint32_t kProbeOffset = offsetof(InstallProfile, ProbeFolder);
const uint32_t kPreferredOffset = offsetof(InstallProfile, PreferredFolder);
const uint32_t kFolderOffset = offsetof(InstallProfile, DestinationFolder);

// The zero-terminated text at p, read no further than room bytes.
std::string TextAt(const uint8_t* p, uint32_t room) {
    const void* end = memchr(p, 0, room);
    return std::string((const char*)p, end ? (size_t)((const uint8_t*)end - p) : room);
}

// Writes text and zeros into the room bytes at p (the text must leave room for a zero).
void PutText(uint8_t* p, uint32_t room, const std::string& text) {
    memset(p, 0, room);
    memcpy(p, text.data(), text.size());
}

bool Fits(const std::string& text, uint32_t room) { return text.size() < room; }

// The components of a backslash-separated path, each a name Windows allows
// (WindowsNameProblem): none empty, none "." or "..", none a device's.
bool ComponentsAreSound(const std::string& path, size_t from, std::string* why) {
    while (true) {
        const size_t end = path.find('\\', from);
        const std::string part = path.substr(from, end == std::string::npos ? end : end - from);
        const std::string problem = WindowsNameProblem(part);
        if (!problem.empty()) {
            *why = part.empty() ? "has an empty component"
                                : "has a component, " + part + ", that " + problem;
            return false;
        }
        if (end == std::string::npos) return true;
        from = end + 1;
    }
}

bool CheckFolder(const char* option, const std::string& folder, std::string* error) {
    std::string why;
    bool drive = folder.size() >= 3 && ((folder[0] | 0x20) >= 'a' && (folder[0] | 0x20) <= 'z') &&
                 folder[1] == ':' && folder[2] == '\\';
    if (!drive) {
        why = "is not an absolute Windows path (like C:\\Program Files\\Product)";
    } else if (!Fits(folder, kFolderSlot)) {
        why = "is longer than " + std::to_string(kFolderSlot - 1) + " characters";
    } else if (folder.size() > 3 && !ComponentsAreSound(folder, 3, &why)) {
        // why is set
    } else {
        return true;
    }
    *error = std::string(option) + " " + folder + ": " + why;
    return false;
}

}  // namespace

bool ReadProductValues(const uint8_t* image, uint32_t size, uint32_t profileOffset,
                       ProductValues* values) {
    const uint8_t* profile = image + profileOffset;
    values->Folder = TextAt(profile + kFolderOffset, sizeof Profile.DestinationFolder);
    uint32_t block = ReadLe16(profile + kProfileProductBlockOffset);
    if (block == 0) {
        values->Title = TextAt(profile + kTitleOffset, sizeof Profile.Title);
        values->ProbeFolder = TextAt(profile + kProbeOffset, sizeof Profile.ProbeFolder);
        values->PreferredFolder = TextAt(profile + kPreferredOffset, sizeof Profile.PreferredFolder);
        values->Program = kDefaultProgramToRun;
        return true;
    }
    if (block != kProductBlockSize || size < block || size - block < profileOffset + kProfileSize)
        return false;
    const uint8_t* b = image + size - block;
    values->Title = TextAt(b, kTitleSlot);
    values->ProbeFolder = TextAt(b + kProbeSlotOffset, kFolderSlot);
    values->PreferredFolder = TextAt(b + kPreferredSlotOffset, kFolderSlot);
    values->Program = TextAt(b + kProgramSlotOffset, kFolderSlot);
    return true;
}

bool CheckProductValues(const ProductValues& values, std::string* error) {
    if (values.Title.empty() || !Fits(values.Title, kTitleSlot)) {
        *error = "--title: the title takes 1 to " + std::to_string(kTitleSlot - 1) + " characters";
        return false;
    }
    for (unsigned char c : values.Title) {
        if (c < 0x20 || c == 0x7F) {
            *error = "--title: the title holds a control character";
            return false;
        }
    }
    if (!CheckFolder("--folder", values.Folder, error) ||
        !CheckFolder("--probe-folder", values.ProbeFolder, error) ||
        !CheckFolder("--preferred-folder", values.PreferredFolder, error)) {
        return false;
    }
    if (values.Program.empty()) return true;
    std::string why;
    if (values.Program[0] == '\\' || values.Program.find(':') != std::string::npos) {
        why = "is not a path relative to the destination folder (like bin\\product.exe)";
    } else if (!Fits(values.Program, kFolderSlot)) {
        why = "is longer than " + std::to_string(kFolderSlot - 1) + " characters";
    } else if (ComponentsAreSound(values.Program, 0, &why)) {
        return true;
    }
    *error = "--run " + values.Program + ": " + why;
    return false;
}

void WriteProductValues(std::vector<uint8_t>* image, uint32_t profileOffset,
                        const ProductValues& values) {
    uint8_t* profile = image->data() + profileOffset;
    PutText(profile + kFolderOffset, sizeof Profile.DestinationFolder, values.Folder);
    bool fixedFieldsHold = Fits(values.Title, sizeof Profile.Title) &&
                           Fits(values.ProbeFolder, sizeof Profile.ProbeFolder) &&
                           Fits(values.PreferredFolder, sizeof Profile.PreferredFolder) &&
                           values.Program == kDefaultProgramToRun;
    if (fixedFieldsHold) {
        PutText(profile + kTitleOffset, sizeof Profile.Title, values.Title);
        PutText(profile + kProbeOffset, sizeof Profile.ProbeFolder, values.ProbeFolder);
        PutText(profile + kPreferredOffset, sizeof Profile.PreferredFolder, values.PreferredFolder);
        return;
    }
    // The title's field keeps as much of the title as it holds: the stub shows it in the
    // messages it may give before its image has been checked and the block taken up. The
    // folder fields are not read when there is a block.
    PutText(profile + kTitleOffset, sizeof Profile.Title,
            values.Title.substr(0, sizeof Profile.Title - 1));
    PutText(profile + kProbeOffset, sizeof Profile.ProbeFolder, "");
    PutText(profile + kPreferredOffset, sizeof Profile.PreferredFolder, "");
    WriteLe16(profile + kProfileProductBlockOffset, (uint16_t)kProductBlockSize);
    std::vector<uint8_t> block(kProductBlockSize, 0);
    PutText(&block[0], kTitleSlot, values.Title);
    PutText(&block[kProbeSlotOffset], kFolderSlot, values.ProbeFolder);
    PutText(&block[kPreferredSlotOffset], kFolderSlot, values.PreferredFolder);
    PutText(&block[kProgramSlotOffset], kFolderSlot, values.Program);
    image->insert(image->end(), block.begin(), block.end());
}
