#include "viewer/ActionInfo.h"

#include "base/NumberText.h"

#include <array>
#include <utility>

namespace kiv {

namespace {

std::string LowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

struct TWord {
    std::string_view word;
    std::uint8_t kind;
};

constexpr std::array<TWord, 11> kPlainWords = {{
    {"exit", kActionExit},
    {"prevslide", kActionPrevSlide},
    {"nextslide", kActionNextSlide},
    {"help", kActionHelp},
    {"pause", kActionPause},
    {"print", kActionPrint},
    {"gotofirstslide", kActionGotoSlide},
    {"stop", kActionStop},
    {"closedialog", kActionCloseDialog},
    {"saveslide", kActionSaveSlide},
    {"changeprinter", kActionChangePrinter},
}};

// Tested in this order: "runapp(" comes before "runappandexit(" and "runpresentation(" before
// "runpresentationandreturn(", but the longer words never match the shorter prefixes because the
// bracket follows the shorter word directly.
constexpr std::array<TWord, 8> kPrefixes = {{
    {"gotoslide(", kActionGotoSlide},
    {"openwebsite(", kActionOpenWebsite},
    {"writeemail(", kActionWriteEmail},
    {"runapp(", kActionRunApp},
    {"runappandexit(", kActionRunAppAndExit},
    {"runpresentation(", kActionRunPresentation},
    {"runpresentationandreturn(", kActionRunPresentationAndReturn},
    {"opendialog(", kActionOpenDialog},
}};

// word[from, size - cutAtEnd), empty when nothing is left.
std::string Cut(std::string_view word, std::size_t from, std::size_t cutAtEnd) {
    if (word.size() < from + cutAtEnd) return {};
    return std::string(word.substr(from, word.size() - from - cutAtEnd));
}

} // namespace

TKivActionInfo ParseActionWord(std::string_view word) {
    const std::string lower = LowerAscii(word);
    for (const TWord& plain : kPlainWords) {
        if (lower != plain.word) continue;
        return MakeAction(plain.kind);
    }
    for (const TWord& prefix : kPrefixes) {
        if (!lower.starts_with(prefix.word)) continue;
        if (prefix.kind == kActionGotoSlide) {
            std::string parameter = Cut(word, prefix.word.size(), 1);
            if (const auto number = ParseInt32(parameter)) return MakeAction(kActionGotoSlide, *number);
            return MakeAction(kActionGotoSlide, -1, std::move(parameter));
        }
        return MakeAction(prefix.kind, 0, Cut(word, prefix.word.size() + 1, 2));
    }
    return MakeAction(kActionNone);
}

} // namespace kiv
