#include "pack/windows_names.h"

#include <string.h>

#include "extract/paths.h"

std::string WindowsNameProblem(const std::string& component) {
    if (component.empty()) return "is empty";
    for (unsigned char c : component) {
        if (c < 0x20) return "holds a control character";
        if (strchr("<>:\"|?*\\/", c)) {
            return std::string("holds the character ") + (char)c + ", which Windows does not allow";
        }
    }
    // Windows drops a final dot or space, so the name would stand for another one.
    const char last = component.back();
    if (last == '.' || last == ' ') return "ends with a dot or a space";
    if (IsDeviceName(component.data(), component.data() + component.size())) {
        return "is reserved for a device on Windows";
    }
    return "";
}
