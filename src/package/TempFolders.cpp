#include "package/TempFolders.h"

#include "base/Assert.h"
#include "package/FolderMacros.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

namespace kiv {

namespace {

constexpr std::string_view kLockSuffix = ".lock";
constexpr int kFolderAttempts = 100;

bool EndsWith(std::string_view text, std::string_view suffix) {
    return text.size() > suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// True when `fd` is still the file that `path` names (nobody deleted or replaced it meanwhile).
bool SameFile(int fd, const std::string& path) {
    struct stat held {};
    struct stat named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

// Makes an empty lock file again (for a later start to retry the removal).
void RecreateLockFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) ::close(fd);
}

bool RemoveTree(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    return !error && !Exists(path);
}

} // namespace

std::string NewGuidText() {
    std::random_device device;
    std::uint8_t bytes[16];
    for (int i = 0; i < 16; i += 4) {
        const std::uint32_t value = device();
        for (int k = 0; k < 4; ++k)
            bytes[i + k] = static_cast<std::uint8_t>(value >> (8 * k));
    }
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40); // version 4
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80); // RFC 4122 variant
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  bytes[0], bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

TTempFolders::TTempFolders(std::string root) : root_(std::move(root)) {
    if (root_.empty() || root_.back() != '/') root_ += '/';
}

TTempFolders::~TTempFolders() {
    ReleaseAll();
}

const std::string& TTempFolders::Root() {
    std::lock_guard lock(mutex_);
    Prepare();
    return root_;
}

void TTempFolders::Prepare() {
    if (ready_) return;
    const std::string folder = root_.substr(0, root_.size() - 1);
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) KIV_FAIL("VendorTemp Create Error: " + root_);
    // The root must be a real folder of this user, checked before any cleanup: a link or another
    // user's folder planted under a shared temporary folder would make it act on their files.
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid())
        KIV_FAIL("Temp Path not Found");
    RemoveStale();
    ready_ = true;
}

void TTempFolders::RemoveStale() {
    DIR* dir = ::opendir(root_.c_str());
    if (!dir) return;
    std::vector<std::string> locks;
    while (const dirent* entry = ::readdir(dir))
        if (EndsWith(entry->d_name, kLockSuffix)) locks.emplace_back(entry->d_name);
    ::closedir(dir);

    for (const std::string& name : locks) {
        const std::string lockPath = root_ + name;
        struct stat info {};
        if (::lstat(lockPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const int fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) continue;
        // A lock that some process holds belongs to a running program: leave it and its folder.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, lockPath)) {
            ::close(fd);
            continue;
        }
        if (::unlink(lockPath.c_str()) == 0) {
            const std::string folder = root_ + name.substr(0, name.size() - kLockSuffix.size());
            if (Exists(folder) && !RemoveTree(folder)) RecreateLockFile(lockPath);
        }
        ::close(fd);
    }
}

std::string TTempFolders::NewFolder(bool trailingSeparator) {
    std::lock_guard lock(mutex_);
    Prepare();
    std::string folder;
    for (int attempt = 0; attempt < kFolderAttempts; ++attempt) {
        std::string name = NewGuidText();
        name.front() = '[';
        name.back() = ']';
        folder = root_ + name;
        const std::string lockPath = folder + std::string(kLockSuffix);
        if (Exists(folder) || Exists(lockPath)) continue;
        // The lock file comes first and is held before the folder exists, so that another
        // process's cleanup never sees the folder without a held lock.
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || !SameFile(fd, lockPath)) {
            ::close(fd);
            continue;
        }
        if (::mkdir(folder.c_str(), 0700) != 0) {
            ::unlink(lockPath.c_str());
            ::close(fd);
            continue;
        }
        folders_.push_back({folder, fd, ::getpid()});
        return trailingSeparator ? folder + "/" : folder;
    }
    KIV_FAIL("VendorTemp Create Error: " + folder);
}

std::vector<std::string> TTempFolders::Folders() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const TFolder& folder : folders_)
        paths.push_back(folder.path);
    return paths;
}

void TTempFolders::ReleaseAll() {
    std::lock_guard lock(mutex_);
    const pid_t self = ::getpid();
    for (const TFolder& folder : folders_) {
        if (folder.owner != self) continue; // a forked child leaves its parent's folders alone
        // Removed while the lock is still held; the lock file goes only with its folder.
        if (RemoveTree(folder.path)) ::unlink((folder.path + std::string(kLockSuffix)).c_str());
        ::close(folder.lockFd);
    }
    folders_.clear();
}

std::string DefaultTempRoot() {
    const std::string shared = TempFolderPath() + "ZORVIK_TEMP_ROOT";
    // On Linux the temporary folder is shared by every user; when another user's player made the
    // root first, this user gets a root of their own instead of being refused.
    struct stat info {};
    if (::lstat(shared.c_str(), &info) == 0 && (!S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()))
        return shared + "-" + std::to_string(::geteuid()) + "/";
    return shared + "/";
}

TTempFolders& ProcessTempFolders() {
    static TTempFolders folders(DefaultTempRoot());
    return folders;
}

std::string NewTempFolder(bool trailingSeparator) {
    return ProcessTempFolders().NewFolder(trailingSeparator);
}

} // namespace kiv
