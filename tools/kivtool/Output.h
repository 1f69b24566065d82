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

} // namespace kivtool
