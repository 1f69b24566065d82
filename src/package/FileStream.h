// TFileStream: a stream over an operating-system file descriptor, with the file's name.
// Reads and writes go to the descriptor at the stream's own position (pread/pwrite), so several
// streams on one file never disturb each other; small reads are served from a read-ahead block.
// TFileStreamEx: a read that fails returns 0 instead of raising.
//
// Sharing modes are kept for the callers that state them; POSIX files have no mandatory sharing.
#pragma once

#include "base/RefObject.h"
#include "package/Stream.h"

#include <string>
#include <vector>

namespace kiv {

enum class TFileAccess { Read, Write, ReadWrite };
enum class TFileCreation { CreateNew, CreateAlways, OpenExisting, OpenAlways, TruncateExisting };
enum TFileShare : unsigned { kShareNone = 0, kShareRead = 1, kShareWrite = 2, kShareDelete = 4 };

class TFileStream : public TStream {
public:
    // A closed stream; Open gives it a file.
    TFileStream() = default;
    // Opens at once; raises EFileOpenError (message: the file name) on failure.
    TFileStream(const std::string& name, TFileAccess access, TFileCreation creation, unsigned share);
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // Closes an open file first, then opens `name` without blocking; raises EFileOpenError
    // (message: the file name, Cause(): why) when the file cannot be opened or is not a regular
    // file (a folder, a FIFO, a device).
    void Open(const std::string& name, TFileAccess access, TFileCreation creation, unsigned share);
    // Raises EFileAccessError when the system refuses to close the descriptor.
    void Close();
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& FileName() const { return name_; }
    TFileAccess Access() const { return access_; }
    unsigned Share() const { return share_; }

    // An existing file opened for reading with shared reading, or nothing.
    static TRef<TFileStream> OpenRead(const std::string& name);
    // Creates the file or opens it as it is, for reading and writing; raises EFileOpenError.
    static TRef<TFileStream> OpenReadWrite(const std::string& name);
    // Writes all of `stream` (from its start) to a new file `name`, replacing one that exists;
    // the stream's position is kept. False when anything fails.
    static bool SaveStreamToFile(TStream& stream, const std::string& name);

    std::int64_t GetPosition() override { return position_; }
    // Any position from 0 on; a negative one raises EStreamSeekError.
    void SetPosition(std::int64_t position) override;
    // Raises EStreamError with the system's text when the size cannot be read.
    std::int64_t GetSize() override;
    // Sets the end of the file there, keeping the position; raises EFileAccessError.
    void SetSize(std::int64_t size) override;
    // The count is cut to what the source has left; copied in blocks of 32 KiB up to 1 MiB, of
    // the count's size (at most 8 MiB) beyond; a source of unknown size through a 1 MiB block
    // until it ends. A short write raises EStreamWriteError.
    std::int64_t CopyFrom(TStream& source, std::int64_t count) override;
    // Raises EFileReadError with the system's text when the read fails (TFileStreamEx: returns 0).
    std::int32_t Read(void* buffer, std::int32_t count) override;
    // Raises EFileWriteError with the system's text when the write fails.
    std::int32_t Write(const void* buffer, std::int32_t count) override;

protected:
    ~TFileStream() override;
    // What a failed read gives: TFileStream raises, TFileStreamEx answers 0.
    virtual std::int32_t ReadFailed(int error);

private:
    std::int64_t ReadAt(void* buffer, std::int64_t count, std::int64_t offset);
    void DropReadAhead() { aheadLength_ = 0; }

    int fd_ = -1;
    std::string name_;
    TFileAccess access_ = TFileAccess::Read;
    unsigned share_ = kShareNone;
    std::int64_t position_ = 0;
    std::vector<std::uint8_t> ahead_;
    std::int64_t aheadStart_ = 0;
    std::int64_t aheadLength_ = 0;
};

class TFileStreamEx : public TFileStream {
public:
    using TFileStream::TFileStream;

protected:
    ~TFileStreamEx() override = default;
    std::int32_t ReadFailed(int error) override;
};

} // namespace kiv
