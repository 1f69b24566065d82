#include "package/ProgramFolder.h"

#include "package/FolderPath.h"

#include <unistd.h>

#include <mutex>

namespace kiv {

namespace {

std::mutex folderLock;
std::string folder;
bool known = false;

std::string FromExecutable() {
    std::string path(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) return "./";
    path.resize(static_cast<std::size_t>(length));
    return path.substr(0, path.rfind('/') + 1);
}

} // namespace

std::string ProgramFolder() {
    std::lock_guard lock(folderLock);
    if (!known) {
        folder = FromExecutable();
        known = true;
    }
    return folder;
}

void SetProgramFolder(const std::string& newFolder) {
    std::lock_guard lock(folderLock);
    folder = newFolder.empty() || IsFolderSeparator(newFolder.back()) ? newFolder : newFolder + "/";
    known = true;
}

} // namespace kiv
