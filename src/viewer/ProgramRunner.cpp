#include "viewer/ProgramRunner.h"

#include "base/CaseFold.h"
#include "base/Log.h"

#include <algorithm>
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
// clang-format on

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
    if (IsAddress(name)) return Spawn(options_.opener, {name}, true, workingFolder, true);

    const bool bare = name.find_first_of("/\\") == std::string::npos && !HasDrive(name);
    std::string path = DiskPathOf(name, workingFolder);
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        if (!bare) {
            std::error_code error;
            return fs::is_directory(fs::path(path).parent_path(), error) ? kFileNotFound : kPathNotFound;
        }
        path = SearchPath(name);
        if (path.empty() || stat(path.c_str(), &info) != 0) return kFileNotFound;
    }
    // Absolute, so that the opener can never take a name for one of its options.
    path = fs::absolute(path).string();
    if (InsideTempRoot(path)) {
        TLog::Line("Run refused (temporary folder): " + path);
        return kRefused;
    }
    if (S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0)
        return Spawn(path, SplitArguments(parameters), false, workingFolder, false);
    // Documents and folders go to the opener, which takes exactly one name.
    return Spawn(options_.opener, {path}, true, workingFolder, true);
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

int TProgramRunner::Spawn(const std::string& program, const std::vector<std::string>& arguments,
                          bool searchPath, const std::string& workingFolder, bool isOpener) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments)
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
    const int result = searchPath
                           ? posix_spawnp(&pid, program.c_str(), &actions, &attributes, argv.data(), environ)
                           : posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);

    if (result == 0) {
        TLog::Line("Started: " + program);
        options_.childStarted(pid);
        return kStarted;
    }
    TLog::Line("Start failed (" + std::to_string(result) + "): " + program);
    if (result == ENOENT) return isOpener ? kNoOpener : kFileNotFound;
    if (result == ENOTDIR) return kPathNotFound;
    return kRefused;
}

} // namespace kiv
