#include "ini/TextDecoding.h"

#include "base/Utf.h"

#include <algorithm>

namespace kiv {

namespace {

// Windows-1252 differs from Latin-1 only in 80-9F. The unassigned bytes keep their own value.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, // 98-9F
};

} // namespace

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80)
            out += c;
        else if (byte < 0xA0)
            AppendUtf8(out, kCp1252High[byte - 0x80]);
        else
            AppendUtf8(out, byte);
    }
    return out;
}

std::string DecodeTextBytes(std::string_view bytes) {
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") return std::string(bytes.substr(3));
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        const std::string_view rest = bytes.substr(2);
        std::u16string units(rest.size() / 2, u'\0'); // an odd last byte is dropped
        for (std::size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(static_cast<unsigned char>(rest[2 * i]) |
                                             (static_cast<unsigned char>(rest[2 * i + 1]) << 8));
        return Utf16ToUtf8(units);
    }
    return Windows1252ToUtf8(bytes);
}

std::string DecodeOwnedTextBytes(std::string bytes) {
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.erase(0, 3);
        return bytes;
    }
    if (bytes.starts_with("\xFF\xFE")) return DecodeTextBytes(bytes);
    // Windows-1252 keeps ASCII as it is.
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return bytes;
    return Windows1252ToUtf8(bytes);
}

} // namespace kiv
