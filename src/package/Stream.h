// TStream: the byte stream every show file is read through: 64-bit size and position, 32-bit
// read and write counts that may come up short. Concrete streams (memory, file, windows onto
// package entries, decompressors, the unscrambling layer) derive from it.
//
// The virtual read and write never touch memory outside the given buffer and return the bytes
// moved; only the fixed-size helpers (ReadByte, ReadUInt32LE, WriteBuffer, ...) raise
// EStreamReadError / EStreamWriteError when fewer bytes than needed move.
// A stream is used by one thread at a time.
#pragma once

#include "base/Exception.h"
#include "base/RefObject.h"

#include <cstdint>
#include <string>

namespace kiv {

// --- Errors of the stream layers ---
class EStreamError : public Exception {
public:
    using Exception::Exception;
};
class EStreamReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EStreamWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EStreamSeekError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EZLibError : public Exception {
public:
    using Exception::Exception;
};
class EZDecompressionError : public EZLibError {
public:
    using EZLibError::EZLibError;
};
// The message is the file name; the cause, when known, says why it did not open ("is a folder").
class EFileOpenError : public EFileError {
public:
    explicit EFileOpenError(std::string name, std::string cause = {})
        : EFileError(std::move(name)), cause_(std::move(cause)) {}
    const std::string& Cause() const { return cause_; }

private:
    std::string cause_;
};
class EFileSeekError : public EFileError {
public:
    using EFileError::EFileError;
};
class EFileReadError : public EFileError {
public:
    using EFileError::EFileError;
};
class EFileWriteError : public EFileError {
public:
    using EFileError::EFileError;
};
// The operating system's text for the last error, with its code kept.
class EFileAccessError : public EFileError {
public:
    EFileAccessError(std::string message, int code) : EFileError(std::move(message)), code_(code) {}
    int Code() const { return code_; }

private:
    int code_;
};

class TStream : public TRefObject {
public:
    // --- The virtual operations ---
    virtual std::int64_t GetPosition() = 0;
    virtual void SetPosition(std::int64_t position) = 0;
    // -1 when the size is not known (forward-only decoders).
    virtual std::int64_t GetSize() = 0;
    virtual void SetSize(std::int64_t size) = 0;
    // Size minus position.
    virtual std::int64_t Remaining();
    // Replaces the content with all of `source` (see the .cpp for the exact rules).
    virtual void LoadFrom(TStream& source);
    // Position 0, size 0.
    virtual void Clear();
    // Copies up to `count` bytes from `source` at its position; returns the bytes copied.
    virtual std::int64_t CopyFrom(TStream& source, std::int64_t count);
    virtual std::int32_t Read(void* buffer, std::int32_t count) = 0;
    virtual std::int32_t Write(const void* buffer, std::int32_t count) = 0;

    // --- Fixed-size helpers; they raise when fewer bytes than needed move ---
    void ReadBuffer(void* buffer, std::int32_t count);
    void WriteBuffer(const void* buffer, std::int32_t count);
    std::uint8_t ReadByte();
    std::uint16_t ReadUInt16LE();
    std::uint16_t ReadUInt16BE();
    std::uint32_t ReadUInt32LE();
    std::uint32_t ReadUInt32BE();
    std::uint64_t ReadUInt64LE();
    float ReadFloat32();
    void WriteByte(std::uint8_t value);
    void WriteUInt16LE(std::uint16_t value);
    void WriteUInt32LE(std::uint32_t value);
    void WriteUInt32BE(std::uint32_t value);
    // 8-bit string in blocks of 1024 bytes.
    void WriteString8(const std::string& text);
    // UTF-16 little-endian text in blocks of 1024 bytes.
    void WriteString16(const std::u16string& text);
    // UTF-16 text of a known length, read in blocks of 1024 bytes.
    std::u16string ReadString16(std::int64_t length);
    // 8-bit text of a known length, read in blocks of 2048 bytes.
    std::string ReadString8(std::int64_t length);

protected:
    ~TStream() override = default;
};

} // namespace kiv
