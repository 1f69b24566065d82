#include "package/PackageFormat.h"

namespace kiv {

std::string EscapeEntryName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    escaped.reserve(name.size());
    for (const char c : name) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '[') {
            escaped += '<';
        } else if (c == ']') {
            escaped += '>';
        } else if (code < 32) {
            escaped += '#';
            escaped += kHex[code >> 4];
            escaped += kHex[code & 15];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

} // namespace kiv
