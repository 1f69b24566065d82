#include "ini/IniParser.h"

#include "ini/IniFile.h"

#include <vector>

namespace kiv {

namespace {

// Blanks are the characters 0-32 other than CR and LF (which never occur inside a line).
bool IsBlank(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimRight(std::string_view text) {
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::string_view TrimLeft(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// A word character continues a word: ASCII letters and digits, "_", and any byte of a non-ASCII
// UTF-8 character (so "objectÄ=1" stays a key line).
bool IsWordChar(char c) {
    const auto b = static_cast<unsigned char>(c);
    return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '_' ||
           b >= 0x80;
}

// True when `line` (leading blanks already skipped) starts with `word` in any case, not followed by
// a word character nor, after blanks, by "=". `rest` receives the text after the word's blanks.
bool StartsWithWord(std::string_view line, std::string_view word, std::string_view& rest) {
    if (line.size() < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        char c = line[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != word[i]) return false;
    }
    if (line.size() > word.size() && IsWordChar(line[word.size()])) return false;
    rest = TrimLeft(line.substr(word.size()));
    return rest.empty() || rest.front() != '=';
}

// Calls `onLine` for each line: a line ends at CR LF, LF CR, a lone CR or a lone LF; the last line
// may have no end.
template <class OnLine> void ForEachLine(std::string_view text, OnLine&& onLine) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\r' && text[end] != '\n')
            ++end;
        onLine(text.substr(start, end - start));
        if (end == text.size()) break;
        const char first = text[end];
        std::size_t next = end + 1;
        if (next < text.size() && (text[next] == '\r' || text[next] == '\n') && text[next] != first) ++next;
        start = next;
    }
}

} // namespace

void TIniParser::Parse(std::string_view text, TIniList& root, TIniFile* file) {
    TIniList* base = &root;        // the root or the current section
    std::vector<TIniObject*> open; // objects still waiting for their "end", innermost last
    const auto current = [&]() -> TIniList& { return open.empty() ? *base : *open.back(); };

    ForEachLine(text, [&](std::string_view rawLine) {
        const std::string_view line = TrimRight(TrimLeft(rawLine));
        if (line.empty()) {
            current().AddText({});
            return;
        }
        const char first = line.front();
        if (first == ';' || first == '=') {
            current().AddText(line);
            return;
        }
        if (first == '[') {
            const std::size_t close = line.find(']');
            if (close == std::string_view::npos || !file) {
                // Not a section header: the whole line is kept so that it survives a save.
                current().AddText(line);
                return;
            }
            const std::string_view name = TrimRight(TrimLeft(line.substr(1, close - 1)));
            // A header closes every object still open (a writer always ends them; a damaged text
            // should not swallow the section).
            open.clear();
            base = file->SectionForReader(name);
            return;
        }
        std::string_view rest;
        if (StartsWithWord(line, "object", rest)) {
            if (open.size() >= static_cast<std::size_t>(TIniFile::kMaxObjectDepth)) {
                // Too deep to build: the header stays a text line of the deepest object, and end
                // lines go on closing the objects that were built, so a save reads back the same.
                current().AddText(line);
                return;
            }
            std::string_view name = rest;
            std::string_view className;
            if (const std::size_t colon = rest.rfind(':'); colon != std::string_view::npos) {
                name = TrimRight(rest.substr(0, colon));
                className = TrimLeft(rest.substr(colon + 1));
            }
            TRef<TIniObject> object = MakeRef<TIniObject>(name, className);
            TIniObject* raw = object.Get();
            current().Append(std::move(object));
            open.push_back(raw);
            return;
        }
        if (StartsWithWord(line, "end", rest)) {
            if (!open.empty()) {
                open.pop_back();
            } else {
                current().AddText("end");
            }
            return;
        }
        if (const std::size_t equals = line.find('='); equals != std::string_view::npos) {
            current().AddKey(TrimRight(line.substr(0, equals)), TrimLeft(line.substr(equals + 1)));
            return;
        }
        current().AddText(line);
    });
}

} // namespace kiv
