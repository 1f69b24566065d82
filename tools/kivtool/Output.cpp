#include "Output.h"

#include <cstdio>

namespace kivtool {

int Fail(const std::string& message) {
    std::fprintf(stderr, "kivtool: %s\n", message.c_str());
    return 1;
}

int Usage(const char* usage) {
    std::fprintf(stderr, "usage: kivtool %s\n", usage);
    return 2;
}

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (code < 32) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", code);
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

} // namespace kivtool
