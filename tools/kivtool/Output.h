// What every kivtool command prints besides its result: errors (exit 1), usage (exit 2) and JSON
// text.
#pragma once

#include <string>
#include <string_view>

namespace kivtool {

// "kivtool: MESSAGE" on stderr; returns 1.
int Fail(const std::string& message);
// "usage: kivtool USAGE" on stderr; returns 2.
int Usage(const char* usage);
// A JSON string literal: quotes and backslashes escaped, control characters as \u00XX.
std::string JsonString(std::string_view text);
// `text` fit for a terminal: every control character (below 32, DEL, and the C1 controls U+0080 to
// U+009F in UTF-8) becomes "?", as ls does for names it shows on a terminal.
std::string TerminalSafe(std::string_view text);
// True when standard output is a terminal.
bool StdoutIsTerminal();

} // namespace kivtool
