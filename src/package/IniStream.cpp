#include "package/IniStream.h"

#include "ini/TextDecoding.h"
#include "package/Stream.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kiv {

namespace {

constexpr std::int32_t kReadBlock = 1 << 20;

} // namespace

TStreamTextSaver::TStreamTextSaver(TStream& stream) : stream_(stream), buffer_(kBufferSize) {}

void TStreamTextSaver::Put(const char* data, std::size_t size) {
    while (size > 0) {
        if (used_ == kBufferSize) FlushBuffer();
        const std::size_t n = std::min(size, kBufferSize - used_);
        std::memcpy(buffer_.data() + used_, data, n);
        used_ += n;
        data += n;
        size -= n;
    }
}

void TStreamTextSaver::FlushBuffer() {
    const std::size_t n = std::exchange(used_, 0);
    stream_.WriteBuffer(buffer_.data(), static_cast<std::int32_t>(n));
}

void TStreamTextSaver::Finish() {
    if (used_ > 0) FlushBuffer();
}

std::optional<std::string> ReadDecodedText(TStream& stream) {
    const std::int64_t size = stream.GetSize();
    if (size > kMaxTextBytes) return std::nullopt;
    std::string bytes;
    if (size >= 0) {
        const std::int64_t remaining = std::max<std::int64_t>(0, size - stream.GetPosition());
        bytes.resize(static_cast<std::size_t>(remaining));
        for (std::size_t done = 0; done < bytes.size();) {
            const auto want =
                static_cast<std::int32_t>(std::min<std::size_t>(kReadBlock, bytes.size() - done));
            const std::int32_t got = stream.Read(bytes.data() + done, want);
            if (got <= 0) return std::nullopt; // the stream came up short
            done += static_cast<std::size_t>(got);
        }
    } else {
        // A stream of unknown size (a forward-only decoder) is read to its end, within the limit.
        std::string block(kReadBlock, '\0');
        for (;;) {
            const std::int32_t got = stream.Read(block.data(), kReadBlock);
            if (got <= 0) break;
            bytes.append(block.data(), static_cast<std::size_t>(got));
            if (static_cast<std::int64_t>(bytes.size()) > kMaxTextBytes) return std::nullopt;
        }
    }
    return DecodeOwnedTextBytes(std::move(bytes));
}

bool LoadIniFromStream(TIniFile& document, TStream& stream) {
    document.Clear();
    try {
        const std::optional<std::string> text = ReadDecodedText(stream);
        if (!text) return false;
        document.LoadFromText(*text);
        return true;
    } catch (const Exception&) {
        // A stream that cannot be read whole is a failed load, never a partial document.
        document.Clear();
        return false;
    }
}

void SaveIniToStream(const TIniFile& document, TStream& stream, bool byteOrderMark) {
    TStreamTextSaver saver(stream);
    if (byteOrderMark) saver.Write("\xEF\xBB\xBF");
    document.Save(saver);
    saver.Finish();
}

} // namespace kiv
