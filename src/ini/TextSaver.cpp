#include "ini/TextSaver.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

constexpr char kSpaces[] = "                                                                "
                           "                                ";
constexpr std::size_t kSpaceRun = sizeof kSpaces - 1;
static_assert(kSpaceRun == 96);

} // namespace

void TTextSaver::Write(std::string_view bytes) {
    if (!bytes.empty()) Put(bytes.data(), bytes.size());
}

void TTextSaver::WriteLineEnd() {
    Put("\r\n", 2);
}

void TTextSaver::WriteIndent(int count) {
    for (std::size_t left = count > 0 ? static_cast<std::size_t>(count) : 0; left > 0;) {
        const std::size_t n = std::min(left, kSpaceRun);
        Put(kSpaces, n);
        left -= n;
    }
}

// --- TBytesTextSaver ---

TBytesTextSaver::TBytesTextSaver() : bytes_(kInitialCapacity, '\0') {}

void TBytesTextSaver::Put(const char* data, std::size_t size) {
    if (size > bytes_.size() - used_) {
        std::size_t capacity = std::max<std::size_t>(bytes_.size(), kInitialCapacity);
        while (capacity - used_ < size)
            capacity *= 2;
        bytes_.resize(capacity);
    }
    std::memcpy(bytes_.data() + used_, data, size);
    used_ += size;
}

std::string TBytesTextSaver::TakeBytes() {
    bytes_.resize(used_);
    std::string out = std::move(bytes_);
    bytes_.assign(kInitialCapacity, '\0');
    used_ = 0;
    return out;
}

// --- TEscapedTextSaver ---

void TEscapedTextSaver::Write(std::string_view bytes) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\\') continue;
        Put(bytes.data() + start, i + 1 - start);
        Put("\\", 1);
        start = i + 1;
    }
    if (start < bytes.size()) Put(bytes.data() + start, bytes.size() - start);
}

void TEscapedTextSaver::WriteLineEnd() {
    Put("\\n", 2);
}

} // namespace kiv
