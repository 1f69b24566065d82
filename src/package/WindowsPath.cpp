#include "package/WindowsPath.h"

#include "base/CaseFold.h"
#include "package/FolderPath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <optional>
#include <vector>

namespace kiv {

namespace {

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The entry of `folder` ("" = the current folder) whose name equals `component` without regard to
// case; the first in byte order when several do.
std::optional<std::string> FindFolded(const std::string& folder, const std::string& component) {
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (!SameTextFolded(name, component)) continue;
        if (!best || name < *best) best = std::string(name);
    }
    ::closedir(dir);
    return best;
}

std::string Join(const std::string& folder, std::string_view component) {
    if (folder.empty()) return std::string(component);
    if (folder.back() == '/') return folder + std::string(component);
    return folder + "/" + std::string(component);
}

} // namespace

std::string DiskPath(std::string_view name) {
    std::string path(name);
    for (char& c : path)
        if (c == '\\') c = '/';
    if (HasDrivePrefix(path) && !IsFolder(path.substr(0, 2))) path.erase(0, 2);
    if (path.empty() || PathExists(path)) return path;

    // Component by component, keeping what exists and matching the rest without regard to case.
    const bool absolute = path[0] == '/';
    const bool trailing = path.back() == '/';
    std::vector<std::string_view> components;
    std::string_view rest = path;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (!part.empty()) components.push_back(part);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    std::string result = absolute ? "/" : "";
    bool matching = true;
    for (const std::string_view component : components) {
        std::string next = Join(result, component);
        if (matching && component != "." && component != ".." && !PathExists(next)) {
            if (auto found = FindFolded(result, std::string(component)))
                next = Join(result, *found);
            else
                matching = false; // nothing below a missing folder can exist
        }
        result = std::move(next);
    }
    if (trailing && !result.empty() && result.back() != '/') result += '/';
    return result;
}

bool DiskFileExists(std::string_view name) {
    const std::string path = DiskPath(BeforeSelector(name));
    if (path.empty()) return false;
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool DiskFolderExists(std::string_view name) {
    const std::string path = DiskPath(name);
    return !path.empty() && IsFolder(path);
}

} // namespace kiv
