// TMemoryStream: a growable byte buffer with size, position and capacity. Capacity grows in small
// steps while the buffer is small (by 16 below 33 bytes, by 64 below 257) and doubles after that.
// TMemoryStream2 and TDialogStream are memory streams under other names.
#pragma once

#include "package/Stream.h"

namespace kiv {

class TMemoryStream : public TStream {
public:
    // The largest size a memory stream grows to; a write beyond it moves nothing.
    static constexpr std::int64_t kMaxSize = 536870910;

    TMemoryStream() = default;
    TMemoryStream(const TMemoryStream&) = delete;
    TMemoryStream& operator=(const TMemoryStream&) = delete;

    std::int64_t GetPosition() override { return position_; }
    // Clamped to [0, size].
    void SetPosition(std::int64_t position) override;
    std::int64_t GetSize() override { return size_; }
    // A larger size reallocates the buffer to exactly that size (new bytes are zero); the position
    // is cut to the new size; 0 frees the buffer. Raises EStreamError "Stream Cannot be resized"
    // for a negative size, a size above kMaxSize or when memory runs out.
    void SetSize(std::int64_t size) override;
    // From a source of known size: one read straight into the buffer of min(count, what the source
    // has left); a short read raises EStreamReadError. Unknown size: the base copy loop.
    std::int64_t CopyFrom(TStream& source, std::int64_t count) override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    // Moves all bytes or none (none when the buffer cannot grow).
    std::int32_t Write(const void* buffer, std::int32_t count) override;

    // The buffer; valid until the next write or size change.
    std::uint8_t* Memory() { return data_; }
    const std::uint8_t* Memory() const { return data_; }
    std::int64_t Capacity() const { return capacity_; }
    // Makes the capacity at least `capacity` by the growth steps; size and position stay. False
    // when `capacity` is above kMaxSize or memory runs out.
    bool Reserve(std::int64_t capacity);
    // Gives back the capacity beyond the size; the bytes stay where they are when the block
    // can shrink in place.
    void ShrinkToSize();

protected:
    ~TMemoryStream() override;
    // Makes room for `size` bytes by the growth steps; the size becomes `size` when larger.
    // False when `size` is above kMaxSize or memory runs out (nothing changes then).
    bool Grow(std::int64_t size);

private:
    // The inflator decodes straight into the buffer.
    friend class TInflator;

    std::uint8_t* data_ = nullptr;
    std::int64_t size_ = 0;
    std::int64_t position_ = 0;
    std::int64_t capacity_ = 0;
};

class TMemoryStream2 : public TMemoryStream {
protected:
    ~TMemoryStream2() override = default;
};

class TDialogStream : public TMemoryStream {
protected:
    ~TDialogStream() override = default;
};

} // namespace kiv
