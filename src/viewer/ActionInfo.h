// TKivActionInfo: one action of the player as a record (kind, number, text), made from an action
// word written in the project ("nextslide", "gotoslide(3)", "runapp("notes.txt")"), from a key or
// mouse binding, or by the engine (a time to go to). Kind 0 means no action.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kiv {

// The action kinds. The numbers are stored in action records and must not change.
enum TKivActionKind : std::uint8_t {
    kActionNone = 0,
    kActionExit = 1,
    kActionPrevSlide = 2,
    kActionNextSlide = 3,
    kActionHelp = 4,
    kActionPause = 5,
    kActionPrint = 6,
    kActionGotoSlide = 7,        // number = slide number from 1, or -1 with the slide name as text
    kActionOpenWebsite = 8,      // text = address
    kActionWriteEmail = 9,       // text = address
    kActionRunApp = 10,          // text = command line(s)
    kActionRunAppAndExit = 11,   // text = command line(s)
    kActionRunPresentation = 12, // text = show command line
    kActionStop = 13,
    kActionRunPresentationAndReturn = 14, // text = show command line
    kActionOpenDialog = 15,               // text = dialog name
    kActionCloseDialog = 16,
    kActionSaveSlide = 17,     // recognised, no effect
    kActionChangePrinter = 18, // recognised, no effect
    kActionGotoTime = 19,      // made by the engine: number = time in ms
};

struct TKivActionInfo {
    std::uint8_t kind = kActionNone;
    std::int32_t number = 0;
    std::string text;

    bool IsNone() const { return kind == kActionNone; }
    friend bool operator==(const TKivActionInfo&, const TKivActionInfo&) = default;
};

inline TKivActionInfo MakeAction(std::uint8_t kind, std::int32_t number = 0, std::string text = {}) {
    return TKivActionInfo{kind, number, std::move(text)};
}

// Turns an action word into its record. Plain words compare without regard to ASCII case; a word
// that begins with one of the parameter prefixes keeps its parameter as written. The characters
// cut around the parameter (closing bracket, quotes) are not checked, so "gotoslide(3" reads as
// slide "" and a word shorter than its prefix plus the cut characters gives an empty parameter.
// Any other word gives kind 0. Never fails.
TKivActionInfo ParseActionWord(std::string_view word);

} // namespace kiv
