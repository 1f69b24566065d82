#include "Output.h"

#include <cstdio>
#include <unistd.h>

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

std::string TerminalSafe(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto code = static_cast<unsigned char>(text[i]);
        if (code < 32 || code == 0x7F) {
            out += '?';
        } else if (code == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            out += '?';
            ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool StdoutIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

} // namespace kivtool
