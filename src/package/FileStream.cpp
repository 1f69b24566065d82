#include "package/FileStream.h"

#include "package/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kiv {

namespace {

constexpr std::int64_t kReadAhead = 65536;
constexpr std::int64_t kSmallCopyLimit = 1048576;
constexpr std::int64_t kSmallCopyBlock = 32768;
constexpr std::int64_t kLargeCopyBlock = 8388608;
constexpr std::int64_t kUnknownCopyBlock = 1048577;

std::string SystemText(int error) { return std::strerror(error); }

int OpenFlags(TFileAccess access, TFileCreation creation) {
    int flags = 0;
    switch (access) {
    case TFileAccess::Read: flags |= O_RDONLY; break;
    case TFileAccess::Write: flags |= O_WRONLY; break;
    case TFileAccess::ReadWrite: flags |= O_RDWR; break;
    }
    switch (creation) {
    case TFileCreation::CreateNew: flags |= O_CREAT | O_EXCL; break;
    case TFileCreation::CreateAlways: flags |= O_CREAT | O_TRUNC; break;
    case TFileCreation::OpenExisting: break;
    case TFileCreation::OpenAlways: flags |= O_CREAT; break;
    case TFileCreation::TruncateExisting: flags |= O_TRUNC; break;
    }
    return flags;
}

} // namespace

TFileStream::TFileStream(const std::string& name, TFileAccess access, TFileCreation creation, unsigned share) {
    Open(name, access, creation, share);
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void TFileStream::Open(const std::string& name, TFileAccess access, TFileCreation creation, unsigned share) {
    if (fd_ >= 0) Close();
    // Only regular files: a FIFO, a device or a folder would block the open or never end.
    const int fd = OpenRegularFile(name, OpenFlags(access, creation), 0666);
    fd_ = fd;
    name_ = name;
    access_ = access;
    share_ = share;
    position_ = 0;
    DropReadAhead();
}

void TFileStream::Close() {
    if (fd_ < 0) return;
    const int fd = fd_;
    fd_ = -1;
    DropReadAhead();
    if (::close(fd) != 0 && errno != EINTR) {
        const int error = errno;
        throw EFileAccessError(SystemText(error), error);
    }
}

TRef<TFileStream> TFileStream::OpenRead(const std::string& name) {
    try {
        return MakeRef<TFileStream>(name, TFileAccess::Read, TFileCreation::OpenExisting, kShareRead);
    } catch (const EFileError&) {
        return nullptr;
    }
}

TRef<TFileStream> TFileStream::OpenReadWrite(const std::string& name) {
    return MakeRef<TFileStream>(name, TFileAccess::ReadWrite, TFileCreation::OpenAlways, kShareRead);
}

bool TFileStream::SaveStreamToFile(TStream& stream, const std::string& name) {
    try {
        auto file = MakeRef<TFileStream>(name, TFileAccess::Write, TFileCreation::CreateAlways, kShareNone);
        const std::int64_t position = stream.GetPosition();
        stream.SetPosition(0);
        const std::int64_t size = stream.GetSize();
        const std::int64_t copied = file->CopyFrom(stream, size < 0 ? INT64_MAX : size);
        stream.SetPosition(position);
        file->Close();
        return size < 0 || copied == size;
    } catch (const Exception&) {
        return false;
    }
}

void TFileStream::SetPosition(std::int64_t position) {
    if (position < 0) throw EStreamSeekError(SystemText(EINVAL));
    position_ = position;
}

std::int64_t TFileStream::GetSize() {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) throw EStreamError(SystemText(errno));
    return info.st_size;
}

void TFileStream::SetSize(std::int64_t size) {
    DropReadAhead();
    if (size < 0 || ::ftruncate(fd_, size) != 0) {
        const int error = size < 0 ? EINVAL : errno;
        throw EFileAccessError(SystemText(error), error);
    }
}

std::int64_t TFileStream::ReadAt(void* buffer, std::int64_t count, std::int64_t offset) {
    for (;;) {
        const ssize_t got = ::pread(fd_, buffer, static_cast<std::size_t>(count), offset);
        if (got >= 0) return got;
        if (errno != EINTR) return -1;
    }
}

std::int32_t TFileStream::Read(void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const std::int64_t want = count - done;
        if (position_ >= aheadStart_ && position_ < aheadStart_ + aheadLength_) {
            const std::int64_t n = std::min(want, aheadStart_ + aheadLength_ - position_);
            std::memcpy(out + done, ahead_.data() + (position_ - aheadStart_), static_cast<std::size_t>(n));
            done += n;
            position_ += n;
            continue;
        }
        if (want >= kReadAhead) {
            const std::int64_t got = ReadAt(out + done, want, position_);
            if (got < 0) return ReadFailed(errno);
            done += got;
            position_ += got;
            if (got == 0) break;
            continue;
        }
        if (ahead_.empty()) ahead_.resize(kReadAhead);
        const std::int64_t got = ReadAt(ahead_.data(), kReadAhead, position_);
        if (got < 0) {
            DropReadAhead();
            return ReadFailed(errno);
        }
        aheadStart_ = position_;
        aheadLength_ = got;
        if (got == 0) break;
    }
    return static_cast<std::int32_t>(done);
}

std::int32_t TFileStream::ReadFailed(int error) { throw EFileReadError(SystemText(error)); }

std::int32_t TFileStreamEx::ReadFailed(int) { return 0; }

std::int32_t TFileStream::Write(const void* buffer, std::int32_t count) {
    if (count <= 0) return 0;
    DropReadAhead();
    const auto* in = static_cast<const std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(fd_, in + done, static_cast<std::size_t>(count - done), position_);
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) throw EFileWriteError(SystemText(errno));
        if (put == 0) break;
        done += put;
        position_ += put;
    }
    return static_cast<std::int32_t>(done);
}

std::int64_t TFileStream::CopyFrom(TStream& source, std::int64_t count) {
    const std::int64_t sourceSize = source.GetSize();
    std::int64_t block = kUnknownCopyBlock;
    if (sourceSize >= 0) {
        count = std::min(count, std::max<std::int64_t>(0, sourceSize - source.GetPosition()));
        if (count <= 0) return 0;
        block = count <= kSmallCopyLimit ? kSmallCopyBlock : std::min(count, kLargeCopyBlock);
    }
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(block));
    std::int64_t copied = 0;
    while (copied < count) {
        const auto want = static_cast<std::int32_t>(std::min(block, count - copied));
        const std::int32_t got = source.Read(buffer.data(), want);
        if (got <= 0) break;
        if (Write(buffer.data(), got) != got) throw EStreamWriteError("Stream write error");
        copied += got;
    }
    return copied;
}

} // namespace kiv
