// TCacheStream: a memory stream filled lazily from a window stream in 4 KiB blocks. Metadata
// readers that seek back and forth in the head of a file read through it, so the window (often a
// slow chunked entry stream) is read once and only as far as needed.
#pragma once

#include "package/MemoryStream.h"

namespace kiv {

class TCacheStream : public TMemoryStream {
public:
    static constexpr std::int32_t kBlockSize = 4096;

    // Holds a reference to `window`; its current size is the cache stream's size.
    explicit TCacheStream(TStream* window);

    std::int64_t GetPosition() override { return position_; }
    // Clamped to [0, size].
    void SetPosition(std::int64_t position) override;
    std::int64_t GetSize() override { return size_; }
    // Raises EStreamError "Stream Cannot be resized".
    void SetSize(std::int64_t size) override;
    std::int64_t CopyFrom(TStream& source, std::int64_t count) override { return TStream::CopyFrom(source, count); }
    // Fills the cache up to the end of the requested range first; short when the window is.
    std::int32_t Read(void* buffer, std::int32_t count) override;
    // The cache is read-only: nothing is written.
    std::int32_t Write(const void*, std::int32_t) override { return 0; }

    // Bytes held so far.
    std::int64_t Cached() { return TMemoryStream::GetSize(); }

protected:
    ~TCacheStream() override;

private:
    TStream* window_;
    std::int64_t size_;
    std::int64_t position_ = 0;
};

} // namespace kiv
