#include "PackageCommands.h"
#include "Output.h"

#include "package/FileStream.h"
#include "package/KivUnpack.h"
#include "package/PackageWriter.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
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

// Every regular file under `folder` with its entry name (relative path, "\" between folders), in
// name order so that a package is the same from run to run.
std::vector<std::pair<std::string, fs::path>> CollectFiles(const fs::path& folder, const fs::path& skip) {
    std::vector<std::pair<std::string, fs::path>> files;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        if (!item.is_regular_file()) continue;
        std::error_code ignored;
        if (!skip.empty() && fs::equivalent(item.path(), skip, ignored)) continue;
        std::string name;
        for (const fs::path& part : fs::relative(item.path(), folder)) {
            if (!name.empty()) name += '\\';
            name += part.string();
        }
        files.emplace_back(std::move(name), item.path());
    }
    std::sort(files.begin(), files.end());
    return files;
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
    for (const std::string& name : struc.EntrySections()) {
        kiv::TPackageEntry entry;
        struc.SectionEntry(*struc.Directory().FindSection(name), entry);
        std::printf("%s\t%lld\t%d\n", name.c_str(), static_cast<long long>(entry.size), entry.storage);
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
    const std::string temporary = options->output + ".kivtool-part";
    try {
        const fs::path output = fs::absolute(options->output);
        auto files = CollectFiles(options->folder, fs::exists(output) ? output : fs::path());
        auto target = kiv::MakeRef<kiv::TFileStream>(temporary, kiv::TFileAccess::ReadWrite,
                                                     kiv::TFileCreation::CreateAlways, kiv::kShareNone);
        mode_t mode = 0644;
        if (!options->exe.empty()) {
            auto exe = kiv::MakeRef<kiv::TFileStream>(options->exe, kiv::TFileAccess::Read,
                                                      kiv::TFileCreation::OpenExisting, kiv::kShareRead);
            struct stat info {};
            if (::stat(options->exe.c_str(), &info) == 0) mode = info.st_mode & 07777;
            target->CopyFrom(*exe, INT64_MAX);
        }
        kiv::TKivPackWriter writer(*target);
        writer.SetVersion(options->version);
        writer.SetAllowModify(options->allowModify);
        for (const auto& [name, path] : files) {
            auto source = kiv::MakeRef<kiv::TFileStream>(path.string(), kiv::TFileAccess::Read,
                                                         kiv::TFileCreation::OpenExisting, kiv::kShareRead);
            writer.AddEntry(name, *source, options->storage);
        }
        writer.Finish(options->exe.empty() ? kiv::TPackageForm::Own : kiv::TPackageForm::Appended);
        target->Close();
        if (::chmod(temporary.c_str(), mode) != 0) throw kiv::EFileError(temporary + ": cannot set the mode");
        fs::rename(temporary, options->output);
    } catch (const std::exception& failure) {
        fs::remove(temporary, error);
        return Fail(std::string("pack failed: ") + failure.what());
    }
    return 0;
}

} // namespace kivtool
