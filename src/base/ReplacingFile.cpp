#include "base/ReplacingFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

namespace kiv {

TReplacingFile::TReplacingFile(std::string target) : target_(std::move(target)) {
    struct stat info {};
    if (::lstat(target_.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
        error_ = target_ + ": not a regular file (a folder, device, FIFO or socket); not written";
        return;
    }
    std::random_device random;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".part-%08x", static_cast<unsigned>(random()));
        const std::string name = target_ + suffix;
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            error_ = target_ + ": cannot be written (" + std::strerror(errno) + ")";
            return;
        }
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            ::close(fd);
            ::unlink(name.c_str());
            error_ = target_ + ": cannot be written";
            return;
        }
        part_ = name;
        return;
    }
    error_ = target_ + ": no free name for a part file beside it";
}

TReplacingFile::~TReplacingFile() {
    if (file_) std::fclose(file_);
    if (!part_.empty() && !renamed_) ::unlink(part_.c_str());
}

bool TReplacingFile::Rename() {
    if (::rename(part_.c_str(), target_.c_str()) != 0) {
        error_ = target_ + ": cannot be replaced (" + std::strerror(errno) + ")";
        return false;
    }
    renamed_ = true;
    return true;
}

bool TReplacingFile::Commit() {
    if (!file_) return false;
    const bool failed = std::ferror(file_) != 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (failed || !closed) {
        error_ = target_ + ": cannot be written";
        return false;
    }
    return Rename();
}

bool TReplacingFile::CommitAndKeepOpen() {
    return file_ && Rename();
}

std::FILE* TReplacingFile::Release() {
    std::FILE* file = file_;
    file_ = nullptr;
    return file;
}

} // namespace kiv
