#include "base/CaseFold.h"

#include "base/Utf.h"

#include <array>

namespace kiv {

namespace {

#include "base/CaseFoldTable.inc"

constexpr unsigned kPageCount = 0x110000 / 256;

using TPageTable = std::array<const char32_t*, kPageCount>;

const TPageTable& Pages() {
    static const TPageTable pages = [] {
        TPageTable table{};
        for (const TFoldPageEntry& entry : kFoldPages) table[entry.page] = entry.table;
        return table;
    }();
    return pages;
}

// Calls sink(codePoint) for every folded code point, and raw(byte) for each byte that does not
// start a valid UTF-8 sequence.
template <class CodePointSink, class RawSink>
void ForEachFolded(std::string_view text, CodePointSink&& sink, RawSink&& raw) {
    for (std::size_t pos = 0; pos < text.size();) {
        const unsigned char byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            sink(static_cast<char32_t>(byte >= 'A' && byte <= 'Z' ? byte + 32 : byte));
            ++pos;
            continue;
        }
        bool valid = true;
        const std::size_t start = pos;
        const char32_t cp = DecodeUtf8(text, pos, &valid);
        if (valid)
            sink(FoldCodePoint(cp));
        else
            raw(static_cast<unsigned char>(text[start]));
    }
}

} // namespace

char32_t FoldCodePoint(char32_t cp) {
    if (cp < 0x80) return cp >= 'A' && cp <= 'Z' ? cp + 32 : cp;
    if (cp >= 0x110000) return cp;
    const char32_t* page = Pages()[cp >> 8];
    return page ? page[cp & 0xFF] : cp;
}

std::string FoldUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    ForEachFolded(
        text, [&](char32_t cp) { AppendUtf8(out, cp); }, [&](unsigned char b) { out += static_cast<char>(b); });
    return out;
}

bool SameTextFolded(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && a == b) return true;
    return FoldUtf8(a) == FoldUtf8(b);
}

std::uint32_t FoldedHash(std::string_view text) {
    // Hashes the bytes FoldUtf8 would produce, without building them, so that equal folded texts
    // always hash alike.
    std::uint32_t hash = 2166136261u;
    const auto mix = [&](unsigned char byte) { hash = (hash ^ byte) * 16777619u; };
    std::string encoded;
    ForEachFolded(
        text,
        [&](char32_t cp) {
            if (cp < 0x80) return mix(static_cast<unsigned char>(cp));
            encoded.clear();
            AppendUtf8(encoded, cp);
            for (char c : encoded) mix(static_cast<unsigned char>(c));
        },
        mix);
    return hash;
}

} // namespace kiv
