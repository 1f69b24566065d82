// New identity texts for project objects that lack one ("{8-4-4-4-12}" upper-case hexadecimal,
// version-4 random). Any thread.
#pragma once

#include <string>

namespace kiv {

std::string NewGuidText();

} // namespace kiv
