#include "PackageCommands.h"
#include "Output.h"

#include "package/FileStream.h"
#include "package/KivUnpack.h"
#include "package/PackageWriter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <random>
#include <unistd.h>

namespace kivtool {

namespace {

namespace fs = std::filesystem;
using kiv::TRef;

// Opens SHOW as a package; on failure prints why and gives nothing.
TRef<kiv::TKivUnpack> OpenShow(const std::string& show) {
    try {
        auto unpack = kiv::MakeRef<kiv::TKivUnpack>(show);
        if (unpack->IsOpen()) return unpack;
        const std::string& error = unpack->ErrorText();
        Fail(show + ": " + (error.empty() ? "not a show package (no package trailer)" : error));
    } catch (const std::exception& error) {
        Fail(show + ": not a readable show package: " + error.what());
    }
    return nullptr;
}

bool WriteAll(std::FILE* out, const void* bytes, std::size_t count) {
    return std::fwrite(bytes, 1, count, out) == count;
}

constexpr const char* kInfoUsage = "info SHOW";
constexpr const char* kLsUsage = "ls SHOW";
constexpr const char* kCatUsage = "cat SHOW NAME";
constexpr const char* kPackUsage =
    "pack DIR -o OUT [--method store|deflate|scramble] [--exe FILE] [--version TEXT] [--allow-modify]";

struct TPackOptions {
    std::string folder;
    std::string output;
    kiv::TEntryStorage storage = kiv::TEntryStorage::Stored;
    std::string exe;
    std::string version;
    bool allowModify = false;
};

std::optional<TPackOptions> ParsePackOptions(const TArgs& args) {
    TPackOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "-o" && hasValue) {
            options.output = args[++i];
        } else if (arg == "--method" && hasValue) {
            const std::string& method = args[++i];
            if (method == "store")
                options.storage = kiv::TEntryStorage::Stored;
            else if (method == "deflate")
                options.storage = kiv::TEntryStorage::Deflated;
            else if (method == "scramble")
                options.storage = kiv::TEntryStorage::Scrambled;
            else
                return std::nullopt;
        } else if (arg == "--exe" && hasValue) {
            options.exe = args[++i];
        } else if (arg == "--version" && hasValue) {
            options.version = args[++i];
        } else if (arg == "--allow-modify") {
            options.allowModify = true;
        } else if (options.folder.empty() && !arg.empty() && arg[0] != '-') {
            options.folder = arg;
        } else {
            return std::nullopt;
        }
    }
    if (options.folder.empty() || options.output.empty()) return std::nullopt;
    return options;
}

// Whether `path` lies inside `root` (both canonical); the root itself counts as inside.
bool Inside(const fs::path& path, const fs::path& root) {
    const fs::path relative = path.lexically_relative(root);
    return !relative.empty() && *relative.begin() != "..";
}

void Warn(const std::string& message) {
    std::fprintf(stderr, "kivtool: %s\n", message.c_str());
}

// Every file under `folder` with its entry name, in name order so that a package is the same from
// run to run. The name is always the file's own path inside the folder, "\" between folders. A
// link to a file inside the folder is packed as the file it names, under the link's name; a link
// that leads out of the folder, or to nothing, fails the pack (raises). Links to folders and
// things that are not regular files (FIFOs, devices, sockets) are skipped with a warning.
std::vector<std::pair<std::string, fs::path>> CollectFiles(const fs::path& folder, const fs::path& skip) {
    const fs::path root = fs::canonical(folder);
    std::vector<std::pair<std::string, fs::path>> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        std::error_code failed;
        const fs::path relative = item.path().lexically_relative(folder);
        fs::path data = item.path();
        if (item.is_symlink()) {
            const fs::path target = fs::canonical(item.path(), failed);
            if (failed)
                throw kiv::Exception(item.path().string() + ": a link to nothing; nothing was written");
            if (!Inside(target, root))
                throw kiv::Exception(item.path().string() + ": a link that leads out of the folder (to " +
                                     target.string() + "); nothing was written");
            if (!fs::is_regular_file(target, failed)) {
                Warn(item.path().string() + ": a link to " +
                     (fs::is_directory(target, failed) ? "a folder" : "something that is not a file") +
                     ", not packed");
                continue;
            }
            data = target;
        } else if (item.is_directory()) {
            continue;
        } else if (!item.is_regular_file()) {
            Warn(item.path().string() + ": not a regular file, not packed");
            continue;
        }
        if (!skip.empty() && fs::equivalent(item.path(), skip, failed)) continue;
        std::string name;
        for (const fs::path& part : relative) {
            if (!name.empty()) name += '\\';
            name += part.string();
        }
        files.emplace_back(std::move(name), std::move(data));
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The file `output` names, when pack may replace it: a new name, a regular file, or a link (the
// link itself is replaced by the package; the file it pointed to stays as it was). Anything else -
// a device, a FIFO, a socket, a folder - raises: the package is written to a temporary file and
// renamed over its target, and renaming over such a thing would replace it.
fs::path OutputTarget(const std::string& output) {
    struct stat info {};
    if (::lstat(output.c_str(), &info) != 0) {
        if (errno == ENOENT) return fs::path(output);
        throw kiv::Exception(output + ": cannot be examined");
    }
    if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode)) return fs::path(output);
    throw kiv::Exception(output + ": not a regular file (a device, FIFO, socket or folder); not written");
}

// A new, empty file beside `target`, created so that nothing already there is opened (no file, no
// link): the package is written into it and then renamed over the target.
std::string CreatePartFile(const fs::path& target, TRef<kiv::TFileStream>& stream) {
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, ".kivtool-part-%08x", static_cast<unsigned>(random()));
        const std::string name = target.string() + suffix;
        try {
            stream = kiv::MakeRef<kiv::TFileStream>(name, kiv::TFileAccess::ReadWrite,
                                                    kiv::TFileCreation::CreateNew, kiv::kShareNone);
            return name;
        } catch (const std::exception&) {
            std::error_code ignored;
            if (attempt >= 16 || !fs::exists(fs::symlink_status(name, ignored))) throw;
        }
    }
}

} // namespace

int RunInfo(const TArgs& args) {
    if (args.size() != 1) return Usage(kInfoUsage);
    TRef<kiv::TKivUnpack> unpack = OpenShow(args[0]);
    if (!unpack) return 1;
    const std::size_t entries = unpack->Structure()->EntrySections().size();
    std::printf("{\"form\":\"%s\",\"base\":%lld,\"end\":%lld,\"shift\":%lld,\"version\":%s,\"entries\":%zu}\n",
                unpack->Form() == kiv::TPackageForm::Own ? "own" : "appended",
                static_cast<long long>(unpack->Base()), static_cast<long long>(unpack->End()),
                static_cast<long long>(unpack->Shift()), JsonString(unpack->Version()).c_str(), entries);
    return 0;
}

int RunLs(const TArgs& args) {
    if (args.size() != 1) return Usage(kLsUsage);
    TRef<kiv::TKivUnpack> unpack = OpenShow(args[0]);
    if (!unpack) return 1;
    const kiv::TUnpackStruc& struc = *unpack->Structure();
    // The names are the package author's text: on a terminal they must not drive it.
    const bool terminal = StdoutIsTerminal();
    for (const std::string& name : struc.EntrySections()) {
        kiv::TPackageEntry entry;
        struc.SectionEntry(*struc.Directory().FindSection(name), entry);
        const std::string shown = terminal ? TerminalSafe(name) : name;
        std::printf("%s\t%lld\t%d\n", shown.c_str(), static_cast<long long>(entry.size), entry.storage);
    }
    return 0;
}

int RunCat(const TArgs& args) {
    if (args.size() != 2) return Usage(kCatUsage);
    TRef<kiv::TKivUnpack> unpack = OpenShow(args[0]);
    if (!unpack) return 1;
    try {
        TRef<kiv::TStream> entry = unpack->OpenEntry(args[1]);
        if (!entry) return Fail(args[0] + ": no entry named \"" + args[1] + "\"");
        std::vector<char> buffer(1 << 16);
        while (const std::int32_t got = entry->Read(buffer.data(), static_cast<std::int32_t>(buffer.size()))) {
            if (got < 0) break;
            if (!WriteAll(stdout, buffer.data(), static_cast<std::size_t>(got))) return Fail("cannot write to stdout");
        }
        if (std::fflush(stdout) != 0) return Fail("cannot write to stdout");
    } catch (const std::exception& error) {
        return Fail(args[0] + ": entry \"" + args[1] + "\" cannot be read: " + error.what());
    }
    return 0;
}

int RunPack(const TArgs& args) {
    const std::optional<TPackOptions> options = ParsePackOptions(args);
    if (!options) return Usage(kPackUsage);
    std::error_code error;
    if (!fs::is_directory(options->folder, error)) return Fail(options->folder + ": not a folder");
    std::string temporary;
    try {
        const fs::path target = OutputTarget(options->output);
        auto files = CollectFiles(options->folder, fs::exists(target) ? fs::absolute(target) : fs::path());
        TRef<kiv::TFileStream> stream;
        temporary = CreatePartFile(target, stream);
        mode_t mode = 0644;
        if (!options->exe.empty()) {
            auto exe = kiv::MakeRef<kiv::TFileStream>(options->exe, kiv::TFileAccess::Read,
                                                      kiv::TFileCreation::OpenExisting, kiv::kShareRead);
            struct stat info {};
            if (::stat(options->exe.c_str(), &info) == 0) mode = info.st_mode & 07777;
            stream->CopyFrom(*exe, INT64_MAX);
        }
        kiv::TKivPackWriter writer(*stream);
        writer.SetVersion(options->version);
        writer.SetAllowModify(options->allowModify);
        for (const auto& [name, path] : files) {
            auto source = kiv::MakeRef<kiv::TFileStream>(path.string(), kiv::TFileAccess::Read,
                                                         kiv::TFileCreation::OpenExisting, kiv::kShareRead);
            writer.AddEntry(name, *source, options->storage);
        }
        writer.Finish(options->exe.empty() ? kiv::TPackageForm::Own : kiv::TPackageForm::Appended);
        stream->Close();
        if (::chmod(temporary.c_str(), mode) != 0) throw kiv::EFileError(temporary + ": cannot set the mode");
        // The target may have changed while the package was written: look again just before.
        OutputTarget(target.string());
        fs::rename(temporary, target);
    } catch (const std::exception& failure) {
        if (!temporary.empty()) fs::remove(temporary, error);
        return Fail(std::string("pack failed: ") + failure.what());
    }
    return 0;
}

} // namespace kivtool
