// Running programs, documents and web or mail addresses named by the actions "runapp(",
// "runappandexit(", "openwebsite(" and "writeemail(". A text holds one command or several separated
// by commas outside double quotes; every command is checked against the list of prohibited
// commands before any runs. Nothing goes through a shell: a program is started directly with its
// parameters split into arguments, and a document, folder or address is handed whole, as one
// argument, to the desktop's opener (xdg-open).
//
// Before anything starts, the program is followed to its real file: a relative name may not leave
// the folder it is looked up in (by ".." or by a link), and dynamic loaders, a process's program
// under /proc, the player's own executable and interpreters or program runners under any version
// suffix are refused whatever the show says. What is left is asked about (TOptions::mayStart)
// exactly as it would run: the real program and its argument vector.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace kiv {

// The message shown when a text holds a prohibited command (empty caption, OK button).
inline constexpr const char* kProhibitedCommandMessage =
    "Command line contains prohibited command and will not be performed.";

// The commands of a text: split at commas outside double quotes, each trimmed of spaces and tabs.
// Empty commands are dropped.
std::vector<std::string> SplitCommands(std::string_view text);

// The first word of a command as the prohibited check sees it (lower case, without folder, cut at
// its first ".").
std::string CommandCheckWord(std::string_view command);
// True when the command contains ">" or its check word is one of the prohibited commands.
bool IsProhibitedCommand(std::string_view command);

struct TCommandParts {
    std::string file;       // quoted again when it was written quoted
    std::string parameters; // quotes dropped; put between quotes again when it held any
    // The parameters as written (trimmed): where the program's arguments are split from, so that
    // quoted arguments reach the program whole.
    std::string rawParameters;
};
// Splits a command into file and parameters: the file runs to the first space, or, when the
// command starts with a double quote, to the next double quote.
TCommandParts SplitFileAndParameters(std::string_view command);

// Splits a parameter text into arguments by the Windows command-line rules: white space separates
// arguments outside double quotes; 2n backslashes before a quote give n backslashes and the quote
// toggles quoting, 2n + 1 give n backslashes and a literal quote; "" inside quotes is a quote.
std::vector<std::string> SplitArguments(std::string_view text);

// Turns a name in the program's inner form ("C:\Show\tools\app.exe", "tools\app", "/home/u/x")
// into a disk path: "\" separates folders, a drive letter is dropped, a relative name is taken
// from `base`, and a component that does not exist as written is matched without regard to case.
std::string DiskPathOf(std::string_view name, const std::string& base);

// A start as it would happen: the real path of the program (the opener's for documents and
// addresses) and its arguments, without the program itself.
struct TProgramStart {
    std::string program;
    std::vector<std::string> arguments;
    // The program and its arguments as one line, each quoted when it holds white space or quotes.
    std::string CommandLine() const;
};

// Why the program at `realPath` (a path with every link followed) is never started, in words for
// the log ("a dynamic loader"); empty when it may be.
std::string RefusalOfProgram(const std::string& realPath);

// The name an interpreter goes by without its version: "perl5.36.0" -> "perl", "python3.11" ->
// "python", "lua5.4" -> "lua" (lower case, folder dropped).
std::string UnversionedName(std::string_view fileName);

class TProgramRunner {
public:
    // Results in the style of the shell: above 32 started; 2 file not found, 3 path not found,
    // 5 refused, 31 nothing to open it with.
    static constexpr int kStarted = 33;
    static constexpr int kFileNotFound = 2;
    static constexpr int kPathNotFound = 3;
    static constexpr int kRefused = 5;
    static constexpr int kNoOpener = 31;

    struct TOptions {
        // The player's own folder: working folder of every start and the folder of the retries.
        std::string programFolder;
        // The program that opens documents, folders and addresses.
        std::string opener = "xdg-open";
        // Files below this folder (the player's temporary folders) are never started. Empty: the
        // default, $TMPDIR (else /tmp) + "/ZORVIK_TEMP_ROOT".
        std::string tempRoot;
        // Receives every started child. Default: a detached thread waits for it, so that no
        // finished child stays a zombie.
        std::function<void(pid_t)> childStarted;
        // Asked before every start that passed the checks; false refuses it (the answer's
        // owner logs why). Unset: nothing is started at all.
        std::function<bool(const TProgramStart&)> mayStart;
    };

    explicit TProgramRunner(TOptions options);

    // Starts one command (file and parameters as split by SplitFileAndParameters), with the
    // not-found retries: without parameters the file unquoted and then the file in the program's
    // folder; with parameters the file and parameters unquoted. Returns the last result. The
    // prohibited check is the caller's (it must cover all commands of a text first).
    int RunCommand(std::string_view command);

    // One attempt: starts `file` with `parameters` in `workingFolder`.
    int Open(std::string_view file, std::string_view parameters, const std::string& workingFolder);

    const TOptions& Options() const { return options_; }
    // The folder relative names are found in and programs start in (the open show's folder).
    void SetProgramFolder(std::string folder) { options_.programFolder = std::move(folder); }

    // From now on no runner of this process starts anything (headless rendering, kivtool).
    static void ForbidStarts();
    static bool StartsForbidden();

private:
    // The checks, the question and the start itself.
    int Start(const TProgramStart& start, const std::string& workingFolder, bool isOpener);
    int Spawn(const TProgramStart& start, const std::string& workingFolder, bool isOpener);
    bool InsideTempRoot(const std::string& path) const;

    TOptions options_;
};

} // namespace kiv
