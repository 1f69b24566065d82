// TKivConsentDialog: asks the user whether the open show may start a program or read a file from
// outside its folder, naming the program and its arguments exactly as they would run ("Run
// /usr/bin/touch with 2 arguments?", the command line below it) with the buttons Run and Don't run.
// Don't run is the default button; Escape and the close button refuse too. Its texts are the
// player's own, never the show's, so a show cannot word the question.
#pragma once

#include "viewer/dialogs/Dialog.h"

#include <string>

namespace kiv {

struct TProgramStart;

class TKivConsentDialog final : public TDialog {
public:
    static constexpr const char* kCaption = "Allow the show?";

    // `question` on the first line, `detail` (elided in the middle when long) on the second;
    // `yes` and `no` the buttons' texts.
    TKivConsentDialog(const std::string& question, const std::string& detail, const std::string& yes,
                      const std::string& no);
};

// "Run /usr/bin/touch with 2 arguments?"
std::string ProgramQuestion(const TProgramStart& start);

// Runs the dialog for a program: true when the user chose Run.
bool AskToRunProgram(TDialogRunner& runner, const TProgramStart& start);
// Runs the dialog for a file outside the show: true when the user chose Read.
bool AskToReadFile(TDialogRunner& runner, const std::string& path);

// `text` cut to at most `limit` characters (UTF-8 sequences kept whole) by an ellipsis in the
// middle, so that the start and the end stay readable.
std::string ElideMiddle(const std::string& text, std::size_t limit);

} // namespace kiv
