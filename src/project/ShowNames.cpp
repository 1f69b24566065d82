#include "project/ShowNames.h"

#include "base/CaseFold.h"

namespace kiv {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/' || c == ':';
}

// Index of the dot that starts the extension, or npos.
std::size_t ExtensionDot(std::string_view name) {
    for (std::size_t i = name.size(); i > 0; --i) {
        const char c = name[i - 1];
        if (c == '.') return i - 1;
        if (IsSeparator(c)) break;
    }
    return std::string_view::npos;
}

TShowAlias& Alias() {
    static TShowAlias alias;
    return alias;
}

} // namespace

std::string FileExtension(std::string_view name) {
    const std::size_t dot = ExtensionDot(name);
    return dot == std::string_view::npos ? std::string() : std::string(name.substr(dot));
}

std::string ChangeFileExtension(std::string_view name, std::string_view extension) {
    const std::size_t dot = ExtensionDot(name);
    std::string result(dot == std::string_view::npos ? name : name.substr(0, dot));
    result += extension;
    return result;
}

const TShowAlias& ShowAlias() {
    return Alias();
}
void SetShowAlias(TShowAlias alias) {
    Alias() = std::move(alias);
}

bool MatchesShowAlias(std::string_view name) {
    const TShowAlias& alias = Alias();
    return !alias.realFile.empty() && SameTextFolded(name, alias.executableAlias);
}

std::string MapToPackageFile(std::string_view name, const TFileExists& fileExists) {
    if (MatchesShowAlias(name)) return std::string(name);
    if (SameTextFolded(FileExtension(name), ".app")) {
        // A Windows name keeps its own separator; a Linux path gets "/".
        const bool windowsName =
            name.find('\\') != std::string_view::npos && name.find('/') == std::string_view::npos;
        const char sep = windowsName ? '\\' : '/';
        std::string inside(name);
        if (!inside.empty() && inside.back() != sep) inside += sep;
        inside += "Contents";
        inside += sep;
        inside += "Resources";
        inside += sep;
        inside += "slideshow.dat";
        if (fileExists && fileExists(inside)) return inside;
        return ChangeFileExtension(name, ".kvshow");
    }
    return std::string(name);
}

} // namespace kiv
