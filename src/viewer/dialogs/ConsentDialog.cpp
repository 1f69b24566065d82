#include "viewer/dialogs/ConsentDialog.h"

#include "viewer/ProgramRunner.h"

namespace kiv {

namespace {

// Characters that fit on a line of the dialog at its 8-point font, with room to spare.
constexpr std::size_t kLineCharacters = 74;
constexpr std::size_t kPathCharacters = 52;

bool Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

TKivConsentDialog::TKivConsentDialog(const std::string& question, const std::string& detail,
                                     const std::string& yes, const std::string& no)
    : TDialog(kCaption, 460, 98) {
    Add(MakeRef<TDialogStatic>(TDialogRect{12, 12, 436, 16}, question));
    Add(MakeRef<TDialogStatic>(TDialogRect{12, 34, 436, 16}, ElideMiddle(detail, kLineCharacters)));
    Add(MakeRef<TDialogButton>(TDialogRect{292, 62, 75, 25}, yes, kDialogOk));
    Add(MakeRef<TDialogButton>(TDialogRect{373, 62, 75, 25}, no, kDialogCancel, true));
    // The safe answer holds the focus: a stray Enter or Space refuses.
    SetFocus(Items().back().Get());
}

std::string ProgramQuestion(const TProgramStart& start) {
    const std::size_t count = start.arguments.size();
    const std::string arguments = count == 0   ? "no arguments"
                                  : count == 1 ? "1 argument"
                                               : std::to_string(count) + " arguments";
    return "Run " + ElideMiddle(start.program, kPathCharacters) + " with " + arguments + "?";
}

bool AskToRunProgram(TDialogRunner& runner, const TProgramStart& start) {
    TRef<TKivConsentDialog> dialog =
        MakeRef<TKivConsentDialog>(ProgramQuestion(start), start.CommandLine(), "Run", "Don't run");
    return runner.RunModal(*dialog) == kDialogOk;
}

bool AskToReadFile(TDialogRunner& runner, const std::string& path) {
    TRef<TKivConsentDialog> dialog = MakeRef<TKivConsentDialog>(
        "Read a file from outside the show's folder?", path, "Read", "Don't read");
    return runner.RunModal(*dialog) == kDialogOk;
}

std::string ElideMiddle(const std::string& text, std::size_t limit) {
    if (text.size() <= limit || limit < 8) return text;
    const std::string ellipsis = "\xE2\x80\xA6";
    std::size_t head = (limit - 1) / 2;
    std::size_t tail = text.size() - (limit - 1 - head);
    while (head > 0 && Continuation(text[head]))
        --head;
    while (tail < text.size() && Continuation(text[tail]))
        ++tail;
    return text.substr(0, head) + ellipsis + text.substr(tail);
}

} // namespace kiv
