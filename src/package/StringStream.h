// TStringStream: a stream over an 8-bit string, with the behaviour of a memory stream (position
// clamped to the size, reads as far as the text goes, writes overwrite and extend it).
#pragma once

#include "package/Stream.h"

#include <string>

namespace kiv {

class TStringStream : public TStream {
public:
    explicit TStringStream(std::string text = {}) : text_(std::move(text)) {}

    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override;
    std::int64_t GetSize() override { return static_cast<std::int64_t>(text_.size()); }
    // Raises EStreamError "Stream Cannot be resized" for a negative size or one above 2 GiB.
    void SetSize(std::int64_t size) override;
    std::int32_t Read(void* buffer, std::int32_t count) override;
    std::int32_t Write(const void* buffer, std::int32_t count) override;

    const std::string& DataString() const { return text_; }

protected:
    ~TStringStream() override = default;

private:
    std::string text_;
    std::int64_t position_ = 0;
};

} // namespace kiv
