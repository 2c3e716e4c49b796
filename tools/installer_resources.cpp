#include "tools/installer_resources.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "text/code_pages.h"
#include "tools/commands.h"
#include "tools/icon_file.h"
#include "tools/installer_image.h"
#include "tools/output_file.h"
#include "tools/pe_resources.h"

namespace {

const uint16_t kNeutralLanguage = 0;
const uint16_t kIconGroupId = 1;     // the group the stub shows in its captions
const uint16_t kVersionId = 1;
const size_t kLargestIconFile = 16 << 20;

// text (UTF-8) as UTF-16, when every character has a code in the code page.
bool InCodePage(const std::string& text, int codePage, std::u16string* out, std::string* error) {
    std::vector<uint32_t> codePoints;
    if (!DecodeUtf8(text, &codePoints)) {
        *error = "is not UTF-8";
        return false;
    }
    out->clear();
    for (uint32_t c : codePoints) {
        if (EncodeCodePoint(codePage, c) < 0) {
            char why[96];
            snprintf(why, sizeof why, "holds U+%04X, which code page %d cannot represent", c, codePage);
            *error = why;
            return false;
        }
        if (c >= 0x10000) {
            out->push_back((char16_t)(0xD800 + ((c - 0x10000) >> 10)));
            out->push_back((char16_t)(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out->push_back((char16_t)c);
        }
    }
    return true;
}

std::u16string Key(const char* ascii) { return std::u16string(ascii, ascii + strlen(ascii)); }

}  // namespace

bool InstallerResourceOptions::Any() const {
    return !Icon.empty() || !Version.empty() || !Company.empty() || !ProductName.empty() ||
           !Description.empty() || !Copyright.empty();
}

std::vector<Option> ResourceOptions(InstallerResourceOptions* options) {
    return {TextOption("--icon", &options->Icon),
            TextOption("--product-version", &options->Version),
            TextOption("--company", &options->Company),
            TextOption("--product-name", &options->ProductName),
            TextOption("--description", &options->Description),
            TextOption("--copyright", &options->Copyright)};
}

bool ChooseVersionInfo(const InstallerResourceOptions& options, int codePage,
                       const std::string& title, const std::string& fileName, VersionInfo* info,
                       std::string* error) {
    *info = VersionInfo();
    info->Language = kNeutralLanguage;
    info->CodePage = (uint16_t)codePage;
    std::string why;
    std::u16string versionText;
    if (!options.Version.empty()) {
        if (!ParseVersionNumber(options.Version, info->FileVersion, &why)) {
            *error = "--product-version " + options.Version + ": " + why;
            return false;
        }
        memcpy(info->ProductVersion, info->FileVersion, sizeof info->ProductVersion);
        // As given: the parts left out are 0 in the fixed versions, not written here.
        InCodePage(options.Version, codePage, &versionText, &why);
    }
    const std::string& product = options.ProductName.empty() ? title : options.ProductName;
    const std::string none;
    const struct {
        const char* Key;
        const char* Option;
        const std::string& Text;
    } texts[] = {
        {"CompanyName", "--company", options.Company},
        {"FileDescription", "--description", options.Description.empty() ? product : options.Description},
        {"FileVersion", nullptr, none},
        {"LegalCopyright", "--copyright", options.Copyright},
        {"OriginalFilename", "-o", fileName},
        {"ProductName", options.ProductName.empty() ? "--title" : "--product-name", product},
        {"ProductVersion", nullptr, none},
    };
    for (const auto& t : texts) {
        std::u16string text;
        if (t.Option == nullptr) {
            text = versionText;
        } else if (!InCodePage(t.Text, codePage, &text, &why)) {
            *error = std::string(t.Option) + " " + t.Text + ": " + why;
            return false;
        }
        info->Strings.push_back({Key(t.Key), text});
    }
    return true;
}

int PutInstallerResources(const InstallerResourceOptions& options, int codePage,
                          const std::string& title, const std::string& output,
                          const std::string& stubName, std::vector<uint8_t>* stub) {
    if (!options.Any()) return kExitSuccess;
    std::vector<IconImage> images;
    std::string error;
    if (!options.Icon.empty()) {
        std::vector<uint8_t> file;
        if (!ReadWholeFile(options.Icon, kLargestIconFile, &file)) {
            fprintf(stderr, "qar sfx: cannot read --icon %s: %s\n", options.Icon.c_str(),
                    errno == EFBIG ? "larger than an icon file can usefully be (16 MiB)" : strerror(errno));
            return kExitFailure;
        }
        if (!ParseIconFile(file, &images, &error)) {
            fprintf(stderr, "qar sfx: --icon %s: %s\n", options.Icon.c_str(), error.c_str());
            return kExitUsage;
        }
    }
    const bool version = !options.Version.empty() || !options.Company.empty() ||
                         !options.ProductName.empty() || !options.Description.empty() ||
                         !options.Copyright.empty();
    std::vector<uint8_t> versionData;
    if (version) {
        const size_t slash = output.find_last_of('/');
        VersionInfo info;
        if (!ChooseVersionInfo(options, codePage, FromCodePage(title, codePage),
                               slash == std::string::npos ? output : output.substr(slash + 1), &info,
                               &error)) {
            fprintf(stderr, "qar sfx: %s\n", error.c_str());
            return kExitUsage;
        }
        versionData = VersionResourceData(info);
        if (versionData.empty()) {
            fprintf(stderr, "qar sfx: the version texts are too long together (64 KiB at most)\n");
            return kExitUsage;
        }
    }

    std::vector<Resource> resources;
    bool ok = ReadResources(*stub, &resources, &error);
    if (ok) {
        if (!images.empty()) PutIconResources(images, kIconGroupId, kNeutralLanguage, &resources);
        if (version) {
            DropResources(&resources, kResourceVersion);
            Resource r;
            r.Type.Number = kResourceVersion;
            r.Name.Number = kVersionId;
            r.Language = kNeutralLanguage;
            r.Data = versionData;
            resources.push_back(r);
        }
        ok = AddResources(stub, resources, &error);
    }
    if (!ok) {
        fprintf(stderr, "qar sfx: %s: cannot take the icon or version information: %s\n",
                stubName.c_str(), error.c_str());
        return kExitFailure;
    }
    // The stub finds its profile by bytes that must occur once in its image.
    uint32_t rva;
    if (FindStubProfile(stub->data(), (uint32_t)stub->size(), &rva) == kProfileTwice) {
        fprintf(stderr, "qar sfx: the icon or version information holds the bytes by which the "
                "installer finds its own profile; it could not start\n");
        return kExitUsage;
    }
    return kExitSuccess;
}

bool ReadInstallerResources(const std::vector<uint8_t>& image, InstallerResources* found,
                            std::string* error) {
    *found = InstallerResources();
    std::vector<Resource> resources;
    if (!ReadResources(image, &resources, error)) return false;
    const Resource* version = nullptr;
    for (const Resource& r : resources) {
        if (!r.Type.Name.empty()) continue;
        if (r.Type.Number == kResourceGroupIcon) found->Icon = true;
        if (r.Type.Number == kResourceVersion && version == nullptr) version = &r;
    }
    if (version == nullptr) return true;
    uint32_t at;
    if (!ResourceBytesAt(image, version->Rva, version->Size, &at)) {
        *error = "its version information lies outside the image";
        return false;
    }
    if (!ReadVersionResource(image.data() + at, version->Size, &found->Version, error)) {
        *error = "its version resource is damaged: " + *error;
        return false;
    }
    found->HasVersion = true;
    return true;
}
