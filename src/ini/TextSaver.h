// Text savers: where a document writes its bytes when it is saved. Line ends are CR LF; indents
// are runs of spaces. A bytes saver collects everything in memory (from 4 096 bytes, doubling); an
// escaped saver writes each backslash as "\\" and each line end as "\n" so that a whole document
// fits in one value. The saver that writes to a package stream lives with the streams
// (package/IniStream.h).
// A saver is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

class TTextSaver {
public:
    TTextSaver() = default;
    TTextSaver(const TTextSaver&) = delete;
    TTextSaver& operator=(const TTextSaver&) = delete;
    virtual ~TTextSaver() = default;

    // Writes bytes of a name, a value or a whole text line (never a line end of its own).
    virtual void Write(std::string_view bytes);
    // Writes CR LF.
    virtual void WriteLineEnd();
    // Writes `count` spaces (nothing for count <= 0).
    void WriteIndent(int count);
    // Hands the buffered bytes on (stream saver); the others have nothing to do.
    virtual void Finish() {}

protected:
    // Stores bytes exactly as given.
    virtual void Put(const char* data, std::size_t size) = 0;
};

// Collects the saved bytes in a growing array (4 096 bytes first, doubling when full).
class TBytesTextSaver : public TTextSaver {
public:
    static constexpr std::size_t kInitialCapacity = 4096;

    TBytesTextSaver();
    std::string_view Bytes() const { return std::string_view(bytes_.data(), used_); }
    // Hands over the collected bytes and empties the saver.
    std::string TakeBytes();
    std::size_t Capacity() const { return bytes_.size(); }

protected:
    void Put(const char* data, std::size_t size) override;

private:
    std::string bytes_;
    std::size_t used_ = 0;
};

// A bytes saver that writes every backslash as "\\" and every line end as "\n".
class TEscapedTextSaver : public TBytesTextSaver {
public:
    void Write(std::string_view bytes) override;
    void WriteLineEnd() override;
};

} // namespace kiv
