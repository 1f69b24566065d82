#include "ini/IniValues.h"

#include "base/CaseFold.h"
#include "base/NumberText.h"
#include "ini/IniHash.h"

#include <charconv>
#include <cmath>

namespace kiv {

std::optional<double> ParseIniReal(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::string digits; // significant digits, leading zeros dropped
    std::int64_t fractionDigits = 0;
    bool anyDigit = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c >= '0' && c <= '9') {
            anyDigit = true;
            if (point) ++fractionDigits;
            if (c != '0' || !digits.empty()) digits += c;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (!anyDigit) return std::nullopt;
    std::int64_t exponent = 0;
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E') return std::nullopt;
        const std::optional<std::int32_t> written = ParseInt32(text.substr(i + 1));
        if (!written) return std::nullopt;
        exponent = *written;
    }
    if (digits.empty()) return negative ? -0.0 : 0.0;
    // digits x 10^(exponent - fractionDigits), rounded once by the correctly rounding reader.
    const std::int64_t power = exponent - fractionDigits;
    std::string scientific = digits;
    scientific += 'e';
    scientific += std::to_string(power);
    double value = 0;
    const auto [end, error] =
        std::from_chars(scientific.data(), scientific.data() + scientific.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Decimal magnitude of the leading digit decides between overflow and underflow.
        const std::int64_t magnitude = power + static_cast<std::int64_t>(digits.size()) - 1;
        if (magnitude > 0) return std::nullopt;
        return negative ? -0.0 : 0.0;
    }
    if (error != std::errc() || end != scientific.data() + scientific.size()) return std::nullopt;
    return negative ? -value : value;
}

std::string FormatIniReal(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buffer[400];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 16);
    if (error != std::errc()) return "0";
    std::string text(buffer, end);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

std::optional<bool> ParseIniBool(std::string_view text) {
    if (text == "0") return false;
    if (text == "1") return true;
    return std::nullopt;
}

std::optional<int> ParseIniChoice(std::string_view text, std::span<const std::string_view> words,
                                  bool ignoreCase) {
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (ignoreCase ? FoldedEqual(text, words[i]) : text == words[i]) return static_cast<int>(i);
    }
    return std::nullopt;
}

std::vector<std::string_view> SplitIniList(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    if (text.empty()) return parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(separator, start);
        if (at == std::string_view::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
}

std::optional<std::string> UnescapeIniText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 >= text.size()) return std::nullopt;
        const char next = text[++i];
        if (next == '\\')
            out += '\\';
        else if (next == 'n')
            out += "\r\n";
        else
            return std::nullopt;
    }
    return out;
}

std::string EscapeIniText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            // CR LF and LF CR are one line end.
            const char pair = c == '\r' ? '\n' : '\r';
            if (i + 1 < text.size() && text[i + 1] == pair) ++i;
            out += "\\n";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (static_cast<unsigned char>(c) >= 32) {
            out += c;
        }
    }
    return out;
}

} // namespace kiv
