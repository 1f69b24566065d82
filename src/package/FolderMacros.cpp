#include "package/FolderMacros.h"

#include "base/CaseFold.h"
#include "package/FolderPath.h"
#include "package/ProgramFolder.h"

#include <sys/stat.h>

#include <cstdlib>

namespace kiv {

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// An XDG base folder: the variable when it is an absolute path, else $HOME + `fallback`, else
// nothing.
std::string XdgFolder(const char* variable, const char* fallback) {
    const std::string value = Environment(variable);
    if (!value.empty() && value[0] == '/') return value;
    const std::string home = Environment("HOME");
    if (!home.empty() && home[0] == '/') return WithoutTrailingSeparator(home) + fallback;
    return {};
}

std::string Slashed(std::string folder) {
    if (folder.empty() || IsFolderSeparator(folder.back())) return folder;
    return folder + "/";
}

} // namespace

std::string TempFolderPath() {
    const std::string tmpdir = Environment("TMPDIR");
    if (IsFolder(tmpdir)) return Slashed(tmpdir);
    if (IsFolder("/tmp")) return "/tmp/";
    const std::string program = ProgramFolder();
    const std::string own = program + "TEMP";
    if (IsFolder(own) || ::mkdir(own.c_str(), 0700) == 0) return own + "/";
    return program;
}

std::string ExpandFolderMacro(std::string_view text) {
    if (text.size() < 2 || text[0] != '%') return std::string(text);
    const std::size_t close = text.find('%', 1);
    if (close == std::string_view::npos || close + 1 > 14) return std::string(text);
    const std::string macro = FoldUtf8(text.substr(0, close + 1));
    std::string folder;
    if (macro == "%appdata%")
        folder = XdgFolder("XDG_CONFIG_HOME", "/.config");
    else if (macro == "%localappdata%")
        folder = XdgFolder("XDG_DATA_HOME", "/.local/share");
    else if (macro == "%programdata%")
        folder = "/usr/share";
    else if (macro == "%systemroot%")
        folder = "/";
    else if (macro == "%temp%")
        folder = TempFolderPath();
    else
        return std::string(text);
    std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && IsFolderSeparator(rest[0])) rest.remove_prefix(1);
    return Slashed(folder) + std::string(rest);
}

} // namespace kiv
