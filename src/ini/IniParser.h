// The reader of the INI text format (private to the INI document): splits text into lines,
// classifies each line and builds the tree in one pass without recursion.
#pragma once

#include <string_view>

namespace kiv {

class TIniList;
class TIniFile;

class TIniParser {
public:
    // Appends the lines of `text` to `root`. With a document, section headers open (or continue)
    // sections of it; without one (a list assigned from text) they stay text lines.
    static void Parse(std::string_view text, TIniList& root, TIniFile* file);
};

} // namespace kiv
