#include "package/FolderPath.h"

#include <algorithm>
#include <cctype>

namespace kiv {

namespace {

bool IsNetworkPrefix(std::string_view name) {
    return name.size() >= 2 && IsFolderSeparator(name[0]) && IsFolderSeparator(name[1]);
}

// The length of the part of an absolute folder that ".." never removes: "C:", "C:\" counts as
// "C:", "\\server\share", "/".
std::size_t RootLength(std::string_view folder) {
    if (HasDrivePrefix(folder)) return 2;
    if (IsNetworkPrefix(folder)) {
        std::size_t pos = 2;
        for (int part = 0; part < 2 && pos < folder.size(); ++part) {
            while (pos < folder.size() && !IsFolderSeparator(folder[pos]))
                ++pos;
            if (part == 0 && pos < folder.size()) ++pos;
        }
        return pos;
    }
    if (!folder.empty() && folder[0] == '/') return 1;
    return 0;
}

} // namespace

bool HasDrivePrefix(std::string_view name) {
    return name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':';
}

bool IsAbsoluteName(std::string_view name) {
    return HasDrivePrefix(name) || IsNetworkPrefix(name) || (!name.empty() && name[0] == '/');
}

std::string MakeFolderPath(std::string_view base, std::string_view name) {
    if (IsAbsoluteName(name)) return std::string(name);
    int ups = 0;
    while (name.size() >= 3 && name[0] == '.' && name[1] == '.' && IsFolderSeparator(name[2])) {
        name.remove_prefix(3);
        ++ups;
    }
    // A trailing ".." without separator counts as a group too ("..\.." is two folders up).
    if (name == "..") {
        name = {};
        ++ups;
    }
    if (!name.empty() && IsFolderSeparator(name[0])) name.remove_prefix(1);

    std::string folder = WithoutTrailingSeparator(base);
    if (folder.empty()) folder = std::string(base); // the root "/" itself
    const std::size_t root = RootLength(folder);
    for (int i = 0; i < ups && folder.size() > root; ++i) {
        std::size_t cut = folder.size();
        while (cut > root && !IsFolderSeparator(folder[cut - 1]))
            --cut;
        // "C:\a" loses "a" and keeps "C:"; "/a" keeps "/"; "rel" becomes "".
        if (cut > root && IsFolderSeparator(folder[cut - 1])) --cut;
        folder.resize(std::max(cut, root));
    }
    if (name.empty()) return folder;
    if (folder.empty()) return std::string(name);
    if (IsFolderSeparator(folder.back())) return folder + std::string(name);
    return folder + "\\" + std::string(name);
}

std::string FolderPart(std::string_view name) {
    for (std::size_t i = name.size(); i > 0; --i)
        if (IsFolderSeparator(name[i - 1])) return std::string(name.substr(0, i));
    if (HasDrivePrefix(name)) return std::string(name.substr(0, 2));
    return {};
}

std::string LastComponent(std::string_view name) {
    for (std::size_t i = name.size(); i > 0; --i)
        if (IsFolderSeparator(name[i - 1])) return std::string(name.substr(i));
    if (HasDrivePrefix(name)) return std::string(name.substr(2));
    return std::string(name);
}

std::string WithTrailingSeparator(std::string_view folder) {
    if (folder.empty() || IsFolderSeparator(folder.back())) return std::string(folder);
    return std::string(folder) + "\\";
}

std::string WithoutTrailingSeparator(std::string_view folder) {
    if (!folder.empty() && IsFolderSeparator(folder.back())) folder.remove_suffix(1);
    return std::string(folder);
}

std::string_view BeforeSelector(std::string_view name) {
    return name.substr(0, name.find('|'));
}

} // namespace kiv
