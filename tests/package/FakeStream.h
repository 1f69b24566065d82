// A stream over a std::string for the document tests. It can pretend to be larger than its bytes
// (a read then comes up short) or raise on reading, to check failed loads.
#pragma once

#include "package/Stream.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

namespace kiv::test {

class TFakeStream : public TStream {
public:
    explicit TFakeStream(std::string bytes = {}) : bytes_(std::move(bytes)) {}

    const std::string& Bytes() const { return bytes_; }
    // The size GetSize reports instead of the real one (-1: unknown).
    void PretendSize(std::int64_t size) { pretendSize_ = size; }
    void FailReads() { failReads_ = true; }
    int WriteCalls() const { return writeCalls_; }

    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override { position_ = position; }
    std::int64_t GetSize() override {
        return pretendSize_ ? *pretendSize_ : static_cast<std::int64_t>(bytes_.size());
    }
    void SetSize(std::int64_t size) override { bytes_.resize(static_cast<std::size_t>(size)); }
    std::int32_t Read(void* buffer, std::int32_t count) override {
        if (failReads_) throw EStreamReadError("Stream read error");
        const std::int64_t left = static_cast<std::int64_t>(bytes_.size()) - position_;
        const auto n = static_cast<std::int32_t>(std::clamp<std::int64_t>(left, 0, count));
        if (n > 0) std::memcpy(buffer, bytes_.data() + position_, static_cast<std::size_t>(n));
        position_ += n;
        return n;
    }
    std::int32_t Write(const void* buffer, std::int32_t count) override {
        ++writeCalls_;
        const auto end = static_cast<std::size_t>(position_) + static_cast<std::size_t>(count);
        if (bytes_.size() < end) bytes_.resize(end);
        std::memcpy(bytes_.data() + position_, buffer, static_cast<std::size_t>(count));
        position_ += count;
        return count;
    }

private:
    std::string bytes_;
    std::int64_t position_ = 0;
    std::optional<std::int64_t> pretendSize_;
    bool failReads_ = false;
    int writeCalls_ = 0;
};

} // namespace kiv::test
