#include "package/RegularFile.h"

#include "package/Stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kiv {

namespace {

// What a file of this type is, for a person; empty for a regular file.
std::string TypeProblem(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "is a folder";
    if (S_ISFIFO(mode)) return "is a named pipe (FIFO), not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device, not a regular file";
    if (S_ISSOCK(mode)) return "is a socket, not a regular file";
    return "is not a regular file";
}

// Why an open failed with `error`: the file's type when it has one that open refused on its own
// (a FIFO without a reader, a folder opened for writing), else the system's text.
std::string OpenFailure(const std::string& name, int error) {
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0) {
        std::string problem = TypeProblem(info.st_mode);
        if (!problem.empty()) return problem;
    }
    return std::strerror(error);
}

class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    ~TDescriptor() { ::close(fd_); }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

int OpenRegularFile(const std::string& name, int flags, mode_t mode) {
    int fd;
    do {
        fd = ::open(name.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        throw EFileOpenError(name, OpenFailure(name, error));
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw EFileOpenError(name, std::strerror(error));
    }
    if (std::string problem = TypeProblem(info.st_mode); !problem.empty()) {
        ::close(fd);
        throw EFileOpenError(name, problem);
    }
    const int status = ::fcntl(fd, F_GETFL);
    if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        throw EFileOpenError(name, std::strerror(error));
    }
    return fd;
}

std::vector<std::uint8_t> ReadRegularFile(const std::string& name, std::int64_t limit) {
    const TDescriptor file(OpenRegularFile(name, O_RDONLY));
    const std::string tooLarge = "is larger than " + std::to_string(limit) + " bytes";
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) throw EFileReadError(std::strerror(errno));
    if (info.st_size > limit) throw EFileOpenError(name, tooLarge);
    // The size is only a hint: the file may grow or shrink while it is read, so the read itself
    // stops one byte past the limit.
    std::vector<std::uint8_t> data(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t done = 0;
    for (;;) {
        if (done == data.size()) {
            if (static_cast<std::int64_t>(done) > limit) throw EFileOpenError(name, tooLarge);
            const std::int64_t grown =
                std::min<std::int64_t>(limit + 1, 2 * static_cast<std::int64_t>(done) + 4096);
            data.resize(static_cast<std::size_t>(grown));
        }
        const ssize_t got = ::read(file.Get(), data.data() + done, data.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw EFileReadError(std::strerror(errno));
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    if (static_cast<std::int64_t>(done) > limit) throw EFileOpenError(name, tooLarge);
    data.resize(done);
    return data;
}

std::string RegularFileProblem(const std::string& name) {
    try {
        ::close(OpenRegularFile(name, O_RDONLY));
        return {};
    } catch (const EFileOpenError& error) {
        return error.Cause();
    }
}

} // namespace kiv
