#include "base/ColorValue.h"

#include "base/NumberText.h"

#include <vector>

namespace kiv {

namespace {

std::vector<std::string_view> SplitAtCommas(std::string_view text) {
    std::vector<std::string_view> parts;
    for (;;) {
        const auto comma = text.find(',');
        parts.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos) return parts;
        text.remove_prefix(comma + 1);
    }
}

std::string_view SkipLeadingBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\b')) text.remove_prefix(1);
    return text;
}

// "#" followed by hexadecimal digits; any other character makes the value 0 (black).
std::uint32_t ReadHex(std::string_view digits) {
    std::uint32_t value = 0;
    for (char c : digits) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return 0;
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// A "#"-hexadecimal or decimal part, with `fallback` for a part that is neither.
std::int64_t ReadPart(std::string_view part, std::int64_t fallback, bool* isHex = nullptr) {
    const std::string_view trimmed = SkipLeadingBlanks(part);
    if (!trimmed.empty() && trimmed.front() == '#') {
        if (isHex) *isHex = true;
        return ReadHex(trimmed.substr(1));
    }
    if (isHex) *isHex = false;
    return ParseInt32(part).value_or(fallback);
}

std::uint8_t Modulo256(std::int64_t value) { return static_cast<std::uint8_t>(value & 0xFF); }

} // namespace

std::uint32_t ColorRefToArgb(std::uint32_t colorRef, std::uint8_t alpha) {
    const std::uint32_t red = colorRef & 0xFF, green = (colorRef >> 8) & 0xFF, blue = (colorRef >> 16) & 0xFF;
    return (std::uint32_t{alpha} << 24) | (red << 16) | (green << 8) | blue;
}

std::uint32_t ReadColorValue(std::string_view text, std::uint32_t fallback) {
    if (text.empty()) return fallback;
    const std::vector<std::string_view> parts = SplitAtCommas(text);
    if (parts.size() == 1 || parts.size() == 2) {
        bool hex = false;
        const std::uint32_t value = static_cast<std::uint32_t>(ReadPart(parts[0], 0, &hex)) & 0xFFFFFF;
        std::int64_t alpha = parts.size() == 2 ? ReadPart(parts[1], 255) : 255;
        alpha = alpha > 255 ? 255 : alpha < 0 ? 0 : alpha;
        if (hex) return (static_cast<std::uint32_t>(alpha) << 24) | value;
        return ColorRefToArgb(value, static_cast<std::uint8_t>(alpha));
    }
    if (parts.size() == 3 || parts.size() == 4) {
        const std::uint32_t red = Modulo256(ParseInt32(parts[0], 0));
        const std::uint32_t green = Modulo256(ParseInt32(parts[1], 0));
        const std::uint32_t blue = Modulo256(ParseInt32(parts[2], 0));
        const std::uint32_t alpha = parts.size() == 4 ? Modulo256(ParseInt32(parts[3], 255)) : 255;
        return (alpha << 24) | (red << 16) | (green << 8) | blue;
    }
    return fallback;
}

} // namespace kiv
