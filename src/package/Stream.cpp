#include "package/Stream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kiv {

namespace {

constexpr std::int32_t kCopyBlock = 32768;
constexpr std::int32_t kString16Block = 1024;
constexpr std::int32_t kString8ReadBlock = 2048;
constexpr std::int32_t kString8WriteBlock = 1024;

} // namespace

std::int64_t TStream::Remaining() { return GetSize() - GetPosition(); }

void TStream::Clear() {
    SetPosition(0);
    SetSize(0);
}

void TStream::LoadFrom(TStream& source) {
    Clear();
    const std::int64_t sourcePosition = source.GetPosition();
    try {
        source.SetPosition(0);
        const std::int64_t size = source.GetSize();
        if (size < 0) {
            CopyFrom(source, INT64_MAX);
        } else {
            SetSize(size);
            SetPosition(0);
            if (CopyFrom(source, size) != size) throw EStreamError("Insufficient Source Size");
        }
        source.SetPosition(sourcePosition);
        SetPosition(0);
    } catch (...) {
        // Both positions are restored before the error goes on; a stream that cannot seek back
        // keeps the first error.
        try {
            source.SetPosition(sourcePosition);
            SetPosition(0);
        } catch (const EAssertionFailed&) {
            throw;
        } catch (...) {
        }
        throw;
    }
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
    std::vector<char> buffer(kCopyBlock);
    std::int64_t copied = 0;
    while (copied < count) {
        const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(kCopyBlock, count - copied));
        const std::int32_t got = source.Read(buffer.data(), want);
        if (got <= 0) break;
        if (Write(buffer.data(), got) != got) throw EStreamWriteError("Stream write error");
        copied += got;
    }
    return copied;
}

void TStream::ReadBuffer(void* buffer, std::int32_t count) {
    if (count > 0 && Read(buffer, count) != count) throw EStreamReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, std::int32_t count) {
    if (count > 0 && Write(buffer, count) != count) throw EStreamWriteError("Stream write error");
}

std::uint8_t TStream::ReadByte() {
    std::uint8_t value;
    ReadBuffer(&value, 1);
    return value;
}

std::uint16_t TStream::ReadUInt16LE() {
    std::uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

std::uint16_t TStream::ReadUInt16BE() {
    std::uint8_t b[2];
    ReadBuffer(b, 2);
    return static_cast<std::uint16_t>((b[0] << 8) | b[1]);
}

std::uint32_t TStream::ReadUInt32LE() {
    std::uint8_t b[4];
    ReadBuffer(b, 4);
    return std::uint32_t{b[0]} | (std::uint32_t{b[1]} << 8) | (std::uint32_t{b[2]} << 16) | (std::uint32_t{b[3]} << 24);
}

std::uint32_t TStream::ReadUInt32BE() {
    std::uint8_t b[4];
    ReadBuffer(b, 4);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
}

std::uint64_t TStream::ReadUInt64LE() {
    const std::uint64_t low = ReadUInt32LE();
    const std::uint64_t high = ReadUInt32LE();
    return low | (high << 32);
}

float TStream::ReadFloat32() {
    const std::uint32_t bits = ReadUInt32LE();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void TStream::WriteByte(std::uint8_t value) { WriteBuffer(&value, 1); }

void TStream::WriteUInt16LE(std::uint16_t value) {
    const std::uint8_t b[2] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8)};
    WriteBuffer(b, 2);
}

void TStream::WriteUInt32LE(std::uint32_t value) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    WriteBuffer(b, 4);
}

void TStream::WriteUInt32BE(std::uint32_t value) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
                               static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    WriteBuffer(b, 4);
}

void TStream::WriteString8(const std::string& text) {
    for (std::size_t done = 0; done < text.size(); done += kString8WriteBlock)
        WriteBuffer(text.data() + done,
                    static_cast<std::int32_t>(std::min<std::size_t>(kString8WriteBlock, text.size() - done)));
}

void TStream::WriteString16(const std::u16string& text) {
    std::vector<std::uint8_t> block;
    for (std::size_t done = 0; done < text.size(); done += kString16Block) {
        const std::size_t n = std::min<std::size_t>(kString16Block, text.size() - done);
        block.resize(n * 2);
        for (std::size_t i = 0; i < n; ++i) {
            block[2 * i] = static_cast<std::uint8_t>(text[done + i]);
            block[2 * i + 1] = static_cast<std::uint8_t>(text[done + i] >> 8);
        }
        WriteBuffer(block.data(), static_cast<std::int32_t>(block.size()));
    }
}

std::u16string TStream::ReadString16(std::int64_t length) {
    std::u16string text;
    std::vector<std::uint8_t> block;
    while (static_cast<std::int64_t>(text.size()) < length) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(kString16Block, length - static_cast<std::int64_t>(text.size())));
        block.resize(static_cast<std::size_t>(n) * 2);
        ReadBuffer(block.data(), n * 2);
        for (std::int32_t i = 0; i < n; ++i)
            text += static_cast<char16_t>(block[2 * i] | (block[2 * i + 1] << 8));
    }
    return text;
}

std::string TStream::ReadString8(std::int64_t length) {
    std::string text;
    while (static_cast<std::int64_t>(text.size()) < length) {
        const auto n = static_cast<std::int32_t>(std::min<std::int64_t>(kString8ReadBlock, length - static_cast<std::int64_t>(text.size())));
        const std::size_t old = text.size();
        text.resize(old + static_cast<std::size_t>(n));
        ReadBuffer(text.data() + old, n);
    }
    return text;
}

} // namespace kiv
