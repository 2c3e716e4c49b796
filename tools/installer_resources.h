// The publisher's icon and version information in an installer: what `qar sfx --icon ...
// --product-version ...` adds to the stub's resources, and what `qar list` reads back.
//
// The new resources are language neutral (0): Windows looks a resource up in the user's
// language, then falls back to neutral, so they are found whatever language the system
// runs in. The icon's group has id 1, which the stub loads for its dialogs' caption. The
// version's string table is keyed by that language and the archive's code page, and every
// text must be one that code page can hold, as every other text of the installer.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tools/options.h"
#include "tools/version_info.h"

struct InstallerResourceOptions {
    std::string Icon;           // --icon: an .ico file
    std::string Version;        // --product-version X.Y[.Z[.W]]
    std::string Company;        // --company
    std::string ProductName;    // --product-name (default: the title)
    std::string Description;    // --description (default: the product name)
    std::string Copyright;      // --copyright
    // True when any is given: only then are the stub's resources touched.
    bool Any() const;
};

// The command-line options of these values ("--icon", "--company", ...), for `qar sfx`'s table.
std::vector<Option> ResourceOptions(InstallerResourceOptions* options);

// The version information that the options give: both fixed versions from the version (0.0.0.0
// without one); CompanyName, ProductName, ProductVersion, FileVersion, FileDescription,
// LegalCopyright and OriginalFilename (the installer's file name), leaving out those without
// a value. title is the installer's title (UTF-8). False, with the option at fault and why
// in error, for a malformed version or a text the code page cannot hold.
bool ChooseVersionInfo(const InstallerResourceOptions& options, int codePage,
                       const std::string& title, const std::string& fileName, VersionInfo* info,
                       std::string* error);

// Adds the options' icon and version information to the bare stub (before its product values
// and its integrity words). Returns kExitSuccess, or the exit status of a refusal, told on
// standard error: kExitUsage for a value or an icon file that cannot be used, kExitFailure
// for a file that cannot be read or a stub that cannot take resources. title is in the code page, output the installer's
// path, stubName the stub's name in messages.
int PutInstallerResources(const InstallerResourceOptions& options, int codePage,
                          const std::string& title, const std::string& output,
                          const std::string& stubName, std::vector<uint8_t>* stub);

// What an installer image carries: whether it has an icon, and its version information.
struct InstallerResources {
    bool Icon = false;
    bool HasVersion = false;
    VersionInfo Version;
};
// False, with why in error, when the image's resources cannot be read.
bool ReadInstallerResources(const std::vector<uint8_t>& image, InstallerResources* found,
                            std::string* error);
