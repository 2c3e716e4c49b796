#include <filesystem>
#include <random>

#include "tests/platform/fs_helpers.h"

namespace fs = std::filesystem;

ScratchFolder::ScratchFolder() {
    std::random_device seed;
    std::mt19937 random(seed());
    for (;;) {
        fs::path p = fs::temp_directory_path() / ("qar-fs-" + std::to_string(random()));
        if (fs::create_directory(p)) {
            Path = p.string();
            return;
        }
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Read-only files left by a test must not keep their folder alive.
    for (auto& entry : fs::recursive_directory_iterator(Path, ignored)) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(Path, ignored);
}

std::string ScratchFolder::operator/(const std::string& name) const {
    return (fs::path(Path) / name).string();
}
