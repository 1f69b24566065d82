#include "viewer/ProgramRunner.h"

#include "base/CaseFold.h"
#include "base/Log.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace kiv {

namespace fs = std::filesystem;

namespace {

// The first words the player refuses to start. The first group is the classic list; the second
// holds the Linux programs that do what those guard against: shells and interpreters that run a
// command given with -c or -e, removing, moving, copying and overwriting files, changing owners and
// modes, formatting and wiping disks, running as another user, starting programs through another
// (env, xargs, nohup ...), scheduling, services and power, and fetching or sending files over the
// network. The check looks at the first word only, cut at its first ".", so "mkfs.ext4" reads as
// "mkfs" and "python3.11" as "python3".
// clang-format off
constexpr std::string_view kProhibitedWords[] = {
    "at", "attrib", "call", "cmd", "command", "copy", "del", "deltree", "erase", "for", "format", "fdisk",
    "runonce", "move", "net", "runas", "net1", "ren", "rename", "replace", "rmdir", "rd", "recover",
    "regedit", "rundll", "qstart", "start", "sys", "type", "xcopy", "regsrv", "regedt32", "regsvr32",
    "rcp", "ftp", "tftp",
    // Shells and command interpreters.
    "sh", "bash", "dash", "zsh", "ksh", "mksh", "csh", "tcsh", "fish", "ash", "busybox", "toybox",
    "python", "python2", "python3", "perl", "ruby", "node", "nodejs", "php", "lua", "tclsh", "wish",
    "awk", "gawk", "mawk", "nawk", "sed", "pwsh", "powershell",
    // Programs that start another program.
    "env", "xargs", "nohup", "setsid", "nice", "ionice", "timeout", "stdbuf", "chroot", "find",
    "systemd-run", "flatpak-spawn", "batch", "crontab",
    // Other users' rights.
    "sudo", "su", "doas", "pkexec", "sg", "newgrp", "runuser",
    // Files: remove, move, copy, overwrite, link, modes and owners.
    "rm", "unlink", "mv", "cp", "ln", "truncate", "tee", "rsync", "chmod", "chown", "chgrp",
    "chattr", "setfacl",
    // Disks.
    "dd", "mkfs", "mke2fs", "mkswap", "shred", "wipefs", "parted", "sfdisk", "cfdisk", "gdisk", "sgdisk",
    "blkdiscard", "mount", "umount", "losetup", "cryptsetup",
    // System services, modules, users and power.
    "systemctl", "telinit", "reboot", "shutdown", "poweroff", "halt", "kill",
    "killall", "pkill", "insmod", "rmmod", "modprobe", "useradd", "userdel", "usermod", "passwd",
    "chpasswd", "visudo",
    // Network transfer and remote shells.
    "scp", "sftp", "ssh", "telnet", "curl", "wget", "nc", "ncat", "netcat", "socat",
};

// Programs that are refused once the file behind a name is known, whatever it is called on the way
// there (by a link or a version suffix): more interpreters, debuggers and tracers that run what
// they are told, and programs that run a command line or start another program.
constexpr std::string_view kRunnerWords[] = {
    "pypy", "jython", "tcl", "expect", "guile", "scheme", "racket", "ocaml", "ghci", "runghc", "erl",
    "escript", "elixir", "julia", "rscript", "r", "octave", "java", "jshell", "deno", "bun", "qjs", "osh",
    "rbash", "yash", "elvish", "nu", "xonsh", "gdb", "gdbserver", "gdb-multiarch", "lldb", "strace", "ltrace",
    "valgrind", "perf", "catchsegv", "taskset", "chrt", "unshare", "nsenter", "prlimit", "setpriv",
    "capsh", "firejail", "bwrap", "flock", "script", "watch", "time", "run-parts", "parallel", "make",
    "gmake", "ninja", "vi", "vim", "nvim", "view", "ex", "ed", "emacs", "less", "more", "man", "git",
    "tar", "zip", "rlwrap", "dbus-launch", "dbus-run-session", "gio", "exo-open", "kioclient",
    "kioclient5", "gtk-launch", "x-terminal-emulator", "xterm", "gnome-terminal", "konsole",
    "xfce4-terminal", "lxterminal", "terminator", "tilix", "kitty", "alacritty", "st", "urxvt",
    "screen", "tmux",
};
// clang-format on

std::atomic<bool> gStartsForbidden{false};

bool InWords(std::string_view word, const auto& words) {
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

// The file name of a dynamic loader: ld.so, ld-linux-x86-64.so.2, ld64.so.1, ld-musl-x86_64.so.1.
bool IsLoaderName(std::string name) {
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (name == "ld.so" || name.starts_with("ld.so.")) return true;
    if (name.starts_with("ld-linux") || name.starts_with("ld-musl") || name.starts_with("ld64.so")) return true;
    return name.starts_with("ld-") && name.find(".so") != std::string::npos;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
           first.st_ino == second.st_ino;
}

bool Inside(const fs::path& path, const fs::path& folder) {
    const auto [folderEnd, pathIt] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
    return folderEnd == folder.end();
}

std::string Quoted(const std::string& text) {
    if (!text.empty() && text.find_first_of(" \t\"'") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ')
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ')
        text.remove_suffix(1);
    return text;
}

std::string DropQuotes(std::string_view text) {
    std::string result;
    for (char c : text)
        if (c != '"') result += c;
    return result;
}

bool HasDrive(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// "http:", "mailto:", "file:": a scheme of at least two characters (one letter and a colon is a
// drive).
bool IsAddress(std::string_view text) {
    std::size_t i = 0;
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    if (text.empty() || !letter(text[0])) return false;
    for (i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == ':') return i >= 2;
        if (!letter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') return false;
    }
    return false;
}

// An executable file named `name` in a folder of $PATH; empty when none.
std::string SearchPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        const std::size_t colon = folders.find(':');
        const std::string folder(folders.substr(0, colon));
        if (!folder.empty()) {
            const std::string candidate = folder + "/" + name;
            struct stat info {};
            if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
                access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string_view::npos) return {};
        folders.remove_prefix(colon + 1);
    }
}

void ReapInBackground(pid_t pid) {
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

} // namespace

std::vector<std::string> SplitCommands(std::string_view text) {
    std::vector<std::string> commands;
    bool quoted = false;
    std::size_t begin = 0;
    const auto add = [&](std::size_t end) {
        const std::string_view command = Trim(text.substr(begin, end - begin));
        if (!command.empty()) commands.emplace_back(command);
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"') quoted = !quoted;
        if (text[i] == ',' && !quoted) {
            add(i);
            begin = i + 1;
        }
    }
    add(text.size());
    return commands;
}

std::string CommandCheckWord(std::string_view command) {
    std::string text;
    bool quoted = false;
    for (char c : command) {
        if (c == '"') quoted = !quoted;
        if (quoted && (c == ' ' || c == '\t')) c = '_';
        if (c == '@' || c == '"' || c == '|') continue;
        text += c;
    }
    std::size_t begin = 0;
    while (begin < text.size() && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    std::size_t end = begin;
    while (end < text.size() && text[end] != ' ' && text[end] != '\t')
        ++end;
    std::string word = text.substr(begin, end - begin);
    for (char& c : word)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (const std::size_t slash = word.rfind('\\'); slash != std::string::npos) word.erase(0, slash + 1);
    if (const std::size_t slash = word.rfind('/'); slash != std::string::npos) word.erase(0, slash + 1);
    if (const std::size_t dot = word.find('.'); dot != std::string::npos) word.erase(dot);
    return word;
}

bool IsProhibitedCommand(std::string_view command) {
    if (command.find('>') != std::string_view::npos) return true;
    const std::string word = CommandCheckWord(command);
    for (std::string_view prohibited : kProhibitedWords)
        if (word == prohibited) return true;
    return false;
}

TCommandParts SplitFileAndParameters(std::string_view command) {
    command = Trim(command);
    const bool fileQuoted = !command.empty() && command.front() == '"';
    const std::size_t end = fileQuoted ? command.find('"', 1) : command.find(' ');
    const std::string_view file = command.substr(0, end == std::string_view::npos ? end : end + 1);
    const std::string_view parameters =
        end == std::string_view::npos ? std::string_view() : command.substr(end + 1);

    TCommandParts parts;
    parts.file = std::string(Trim(DropQuotes(file)));
    parts.parameters = std::string(Trim(DropQuotes(parameters)));
    parts.rawParameters = std::string(Trim(parameters));
    if (fileQuoted) parts.file = '"' + parts.file + '"';
    if (parameters.find('"') != std::string_view::npos) parts.parameters = '"' + parts.parameters + '"';
    return parts;
}

std::vector<std::string> SplitArguments(std::string_view text) {
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if ((c == ' ' || c == '\t') && !quoted) {
            if (inArgument) arguments.push_back(std::move(current));
            current.clear();
            inArgument = false;
            ++i;
            continue;
        }
        inArgument = true;
        if (c == '\\') {
            std::size_t count = 0;
            while (i + count < text.size() && text[i + count] == '\\')
                ++count;
            if (i + count < text.size() && text[i + count] == '"') {
                current.append(count / 2, '\\');
                if (count % 2 == 1) {
                    current += '"';
                    i += count + 1;
                } else {
                    i += count; // the quote toggles quoting on the next pass
                }
            } else {
                current.append(count, '\\');
                i += count;
            }
            continue;
        }
        if (c == '"') {
            if (quoted && i + 1 < text.size() && text[i + 1] == '"') {
                current += '"';
                i += 2;
                continue;
            }
            quoted = !quoted;
            ++i;
            continue;
        }
        current += c;
        ++i;
    }
    if (inArgument) arguments.push_back(std::move(current));
    return arguments;
}

std::string DiskPathOf(std::string_view name, const std::string& base) {
    std::string text(name);
    for (char& c : text)
        if (c == '\\') c = '/';
    if (HasDrive(text)) text.erase(0, 2);
    fs::path path(text);
    if (path.is_relative() && !base.empty()) path = DiskPathOf(base, {}) / path;
    path = path.lexically_normal();
    std::error_code error;
    if (path.empty() || fs::exists(path, error)) return path.string();

    // Component by component: a part missing as written is matched without regard to case.
    fs::path result = path.root_path();
    for (const fs::path& part : path.relative_path()) {
        if (part.empty()) continue;
        fs::path candidate = result / part;
        if (!fs::exists(candidate, error) && fs::is_directory(result.empty() ? "." : result, error)) {
            const fs::path folder = result.empty() ? fs::path(".") : result;
            for (fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error), end;
                 !error && it != end; it.increment(error)) {
                if (SameTextFolded(it->path().filename().string(), part.string())) {
                    candidate = result / it->path().filename();
                    break;
                }
            }
        }
        result = std::move(candidate);
    }
    return result.string();
}

std::string UnversionedName(std::string_view fileName) {
    if (const std::size_t slash = fileName.find_last_of('/'); slash != std::string_view::npos)
        fileName.remove_prefix(slash + 1);
    std::string name(fileName);
    for (char& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    // "perl5.36-x86_64-linux-gnu" -> "perl5" -> "perl"; "python3.11" -> "python3" -> "python".
    if (const std::size_t dot = name.find('.'); dot != std::string::npos) name.erase(dot);
    while (!name.empty() && ((name.back() >= '0' && name.back() <= '9') || name.back() == '-' || name.back() == '_'))
        name.pop_back();
    return name;
}

std::string RefusalOfProgram(const std::string& realPath) {
    if (realPath.starts_with("/proc/")) return "a process's program under /proc";
    if (realPath.starts_with("/dev/") || realPath.starts_with("/sys/")) return "not a program file";
    if (SameFile(realPath, "/proc/self/exe")) return "the player itself";
    const std::string fileName = fs::path(realPath).filename().string();
    if (IsLoaderName(fileName)) return "a dynamic loader";
    const std::string word = CommandCheckWord(fileName);
    const std::string bare = UnversionedName(fileName);
    if (InWords(word, kProhibitedWords) || InWords(bare, kProhibitedWords) || InWords(word, kRunnerWords) ||
        InWords(bare, kRunnerWords))
        return "an interpreter or a program that runs others";
    return {};
}

std::string TProgramStart::CommandLine() const {
    std::string line = Quoted(program);
    for (const std::string& argument : arguments)
        line += ' ' + Quoted(argument);
    return line;
}

void TProgramRunner::ForbidStarts() {
    gStartsForbidden = true;
}

bool TProgramRunner::StartsForbidden() {
    return gStartsForbidden;
}

TProgramRunner::TProgramRunner(TOptions options) : options_(std::move(options)) {
    if (options_.tempRoot.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        options_.tempRoot = std::string(tmp && *tmp ? tmp : "/tmp") + "/ZORVIK_TEMP_ROOT";
    }
    if (!options_.childStarted) options_.childStarted = ReapInBackground;
}

int TProgramRunner::RunCommand(std::string_view command) {
    const TCommandParts parts = SplitFileAndParameters(command);
    // A relative file is looked up in the program's folder before anything else (and a bare name
    // then on $PATH), which covers the shell's retries in the program's folder: quoting never
    // changes what is found here, since the file is never handed to a shell.
    return Open(parts.file, parts.rawParameters, options_.programFolder);
}

int TProgramRunner::Open(std::string_view file, std::string_view parameters,
                         const std::string& workingFolder) {
    const std::string name = std::string(Trim(DropQuotes(file)));
    if (name.empty()) return kFileNotFound;
    const std::string written = parameters.empty() ? name : name + " " + std::string(parameters);
    const auto refuse = [&written](const std::string& why) {
        TLog::Line("Program refused (" + why + "): " + written);
        return kRefused;
    };
    if (IsAddress(name)) return Start({options_.opener, {name}}, workingFolder, true);

    const bool bare = name.find_first_of("/\\") == std::string::npos && !HasDrive(name);
    const bool relative = !HasDrive(name) && name.front() != '/' && name.front() != '\\';
    bool onSearchPath = false;
    std::string path = DiskPathOf(name, workingFolder);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (!bare) {
            std::error_code error;
            return fs::is_directory(fs::path(path).parent_path(), error) ? kFileNotFound : kPathNotFound;
        }
        path = SearchPath(name);
        if (path.empty() || stat(path.c_str(), &info) != 0) return kFileNotFound;
        onSearchPath = true;
    }
    // Every link followed: the checks below see the file that would really run.
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    const fs::path real = fs::canonical(absolute, error);
    if (error) return kFileNotFound;
    if (absolute.string().starts_with("/proc/")) return refuse("a process's program under /proc");
    if (relative && !onSearchPath) {
        const std::string base = workingFolder.empty() ? fs::current_path(error).string()
                                                       : DiskPathOf(workingFolder, {});
        const fs::path realBase = fs::canonical(base, error);
        if (error || !Inside(real, realBase)) return refuse("outside the folder " + base + ": " + real.string());
    }
    if (InsideTempRoot(real.string())) {
        TLog::Line("Run refused (temporary folder): " + real.string());
        return kRefused;
    }
    if (S_ISREG(info.st_mode) && access(real.c_str(), X_OK) == 0) {
        if (const std::string why = RefusalOfProgram(real.string()); !why.empty())
            return refuse(why + ": " + real.string());
        return Start({real.string(), SplitArguments(parameters)}, workingFolder, false);
    }
    if (!S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) return refuse("not a file or folder");
    // Documents and folders go to the opener, which takes exactly one name.
    return Start({options_.opener, {real.string()}}, workingFolder, true);
}

bool TProgramRunner::InsideTempRoot(const std::string& path) const {
    std::error_code error;
    const fs::path root = fs::weakly_canonical(options_.tempRoot, error);
    if (error || root.empty()) return false;
    const fs::path target = fs::weakly_canonical(path, error);
    if (error) return false;
    const auto [rootEnd, targetIt] = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
    return rootEnd == root.end();
}

int TProgramRunner::Start(const TProgramStart& wanted, const std::string& workingFolder, bool isOpener) {
    TProgramStart start = wanted;
    if (isOpener) {
        // The opener by its real path, so that the question names what really runs.
        std::string opener = start.program.find('/') == std::string::npos ? SearchPath(start.program)
                                                                          : start.program;
        std::error_code error;
        const fs::path real = opener.empty() ? fs::path() : fs::canonical(opener, error);
        if (opener.empty() || error) {
            TLog::Line("Start failed (no opener " + start.program + "): " + start.CommandLine());
            return kNoOpener;
        }
        start.program = real.string();
    }
    if (StartsForbidden()) {
        TLog::Line("Program not started (no programs run here): " + start.CommandLine());
        return kRefused;
    }
    if (!options_.mayStart) {
        TLog::Line("Program not started (nobody to ask): " + start.CommandLine());
        return kRefused;
    }
    // The consent logs why it refused.
    if (!options_.mayStart(start)) return kRefused;
    return Spawn(start, workingFolder, isOpener);
}

int TProgramRunner::Spawn(const TProgramStart& start, const std::string& workingFolder, bool isOpener) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(start.program.c_str()));
    for (const std::string& argument : start.arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    std::error_code error;
    const std::string folder = workingFolder.empty() ? std::string() : DiskPathOf(workingFolder, {});
    if (!folder.empty() && fs::is_directory(folder, error))
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // The program gets none of the player's files (the log, package files, sockets).
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attributes, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attributes, &signals);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    flags |= POSIX_SPAWN_SETSID; // the program outlives the player and its terminal
#endif
    posix_spawnattr_setflags(&attributes, flags);

    pid_t pid = 0;
    const int result =
        posix_spawn(&pid, start.program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);

    if (result == 0) {
        TLog::Line("Started: " + start.CommandLine());
        options_.childStarted(pid);
        return kStarted;
    }
    TLog::Line("Start failed (" + std::to_string(result) + "): " + start.CommandLine());
    if (result == ENOENT) return isOpener ? kNoOpener : kFileNotFound;
    if (result == ENOTDIR) return kPathNotFound;
    return kRefused;
}

} // namespace kiv
