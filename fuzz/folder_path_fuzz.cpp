// Names of a project's files: folder paths against a base, folder macros, path modifiers and the
// conversion to disk paths (which only reads the disk). The input is "BASE\nNAME".
#include "package/FolderMacros.h"
#include "package/FolderPath.h"
#include "package/PathModifiers.h"
#include "package/WindowsPath.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\n');
    const std::string_view base =
        split == std::string_view::npos ? std::string_view("C:\\P\\Q\\") : input.substr(0, split);
    const std::string_view name = split == std::string_view::npos ? input : input.substr(split + 1);

    const std::string made = kiv::MakeFolderPath(base, name);
    // An absolute name is never changed; any other keeps its last component (unless it is "..", or
    // a colon makes the shortened name read as drive-relative: no Windows file name has one).
    if (kiv::IsAbsoluteName(name) && made != name) std::abort();
    const std::string last = kiv::LastComponent(name);
    if (!kiv::IsAbsoluteName(name) && !last.empty() && last != ".." &&
        name.find(':') == std::string_view::npos && kiv::LastComponent(made) != last)
        std::abort();
    kiv::FolderPart(made);
    kiv::ExpandFolderMacro(name);
    const std::string modified = kiv::ApplyPathModifiers(name);
    if (name.find('%') == std::string_view::npos && modified != name) std::abort();
    kiv::DiskPath(made);
    kiv::DiskFileExists(modified);
    return 0;
}
