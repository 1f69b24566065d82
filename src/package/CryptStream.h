// TCryptStream: repeating-key XOR over another stream. The byte at source position p is XORed
// with key byte (p mod key length); reading and writing are the same operation, so the layer both
// unscrambles package entries and scrambles them when a package is written.
#pragma once

#include "package/Stream.h"

#include <string>

namespace kiv {

class TCryptStream : public TStream {
public:
    // `key` must not be empty (an assertion). With `ownsSource` the stream takes over the caller's
    // reference to `source` and releases it when destroyed.
    TCryptStream(TStream* source, std::string key, bool ownsSource);
    TCryptStream(const TCryptStream&) = delete;
    TCryptStream& operator=(const TCryptStream&) = delete;

    // Position and size are those of the source.
    std::int64_t GetPosition() override { return source_->GetPosition(); }
    void SetPosition(std::int64_t position) override { source_->SetPosition(position); }
    std::int64_t GetSize() override { return source_->GetSize(); }
    void SetSize(std::int64_t size) override { source_->SetSize(size); }
    std::int32_t Read(void* buffer, std::int32_t count) override;
    // Writes a scrambled copy; the caller's buffer is left as it is.
    std::int32_t Write(const void* buffer, std::int32_t count) override;

protected:
    ~TCryptStream() override;

private:
    void Apply(std::uint8_t* bytes, std::int32_t count, std::int64_t position) const;

    TStream* source_;
    std::string key_;
    bool ownsSource_;
};

} // namespace kiv
