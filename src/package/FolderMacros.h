// Folder macros at the start of a name: "%APPDATA%", "%LOCALAPPDATA%", "%PROGRAMDATA%",
// "%SYSTEMROOT%" and "%TEMP%", recognised without regard to case. On Linux they stand for
//   %APPDATA%       $XDG_CONFIG_HOME (else ~/.config)
//   %LOCALAPPDATA%  $XDG_DATA_HOME (else ~/.local/share)
//   %PROGRAMDATA%   /usr/share
//   %SYSTEMROOT%    /
//   %TEMP%          $TMPDIR when it is a folder, else /tmp, else the program's folder + "TEMP"
//                   (created when missing), else the program's folder
// An XDG variable that is empty or not an absolute path is ignored (as the XDG rules say); with
// neither it nor $HOME the folder is empty. The environment is read at every call.
#pragma once

#include <string>
#include <string_view>

namespace kiv {

// `text` with a leading macro replaced by its folder and a trailing "/"; one separator right
// after the macro is absorbed. Only macros of at most 14 characters, both "%" signs included,
// count; any other text comes back unchanged.
std::string ExpandFolderMacro(std::string_view text);

// The temporary folder of %TEMP%, with a trailing "/".
std::string TempFolderPath();

} // namespace kiv
