// The small dialogs the print dialog opens: a save-file dialog that asks before it overwrites a
// file, and a list to choose one line from (the printers of "Change Printer").
#pragma once

#include "viewer/dialogs/Dialog.h"

#include <optional>
#include <string>
#include <vector>

namespace kiv {

// The save-file dialog: a file name field holding `folder` + "/" + `proposed`, the file type
// ("*." + `extension`), Save (default) and Cancel. A name typed without an extension gets
// "." + `extension` (unless that is "*"). When the file exists a second dialog asks whether to
// replace it; No goes back to the name. The chosen path, or nothing when cancelled.
std::optional<std::string> AskSaveFileName(TDialogRunner& runner, const std::string& folder,
                                           const std::string& proposed, const std::string& extension);

// A list dialog: `caption`, a label, the lines with `selected` marked, OK (default) and Cancel.
// The index chosen, or nothing when cancelled.
std::optional<int> ChooseFromList(TDialogRunner& runner, const std::string& caption, const std::string& label,
                                  const std::vector<std::string>& lines, int selected);

} // namespace kiv
