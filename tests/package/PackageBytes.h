// Building package files in tests: by hand (exact bytes, so that tests can also build damaged
// packages) or through TKivPackWriter into memory.
#pragma once

#include "package/MemoryStream.h"
#include "package/PackageWriter.h"

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace kiv::test {

inline std::string Int64LE(std::int64_t value) {
    std::string bytes(8, '\0');
    for (int i = 0; i < 8; ++i)
        bytes[static_cast<std::size_t>(i)] = static_cast<char>(static_cast<std::uint64_t>(value) >> (8 * i));
    return bytes;
}

// The compressed directory, then D and ".dne" (the own-file trailer).
inline std::string OwnTrailer(const std::string& directoryText, std::int64_t directoryOffset) {
    return kiv::DeflateRaw(directoryText) + Int64LE(directoryOffset) + ".dne";
}

struct TTestEntry {
    std::string name;
    std::string bytes;
    TEntryStorage storage;
};

struct TPackOptions {
    TPackageForm form = TPackageForm::Own;
    std::string prefix;  // bytes before the package (an executable)
    std::string version; // kivversion
    bool allowModify = false;
};

// A whole package file written by TKivPackWriter.
inline std::string PackInMemory(const std::vector<TTestEntry>& entries, const TPackOptions& options = {}) {
    auto target = MakeRef<TMemoryStream>();
    target->WriteBuffer(options.prefix.data(), static_cast<std::int32_t>(options.prefix.size()));
    TKivPackWriter writer(*target);
    writer.SetVersion(options.version);
    writer.SetAllowModify(options.allowModify);
    for (const TTestEntry& entry : entries) writer.AddEntry(entry.name, entry.bytes, entry.storage);
    writer.Finish(options.form);
    return std::string(reinterpret_cast<const char*>(target->Memory()), static_cast<std::size_t>(target->GetSize()));
}

} // namespace kiv::test
