// TUnpackStruc: the parsed directory of a package, one section per entry (named by the escaped
// entry name) holding _ps (offset), _sz (stored size) and _pm (storage type), and the section
// "$protection$". Read-only after the package opened; shared by every thread that opens entries.
#pragma once

#include "base/RefObject.h"
#include "ini/IniFile.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// Where an entry's stored bytes are and how they are stored.
struct TPackageEntry {
    std::int64_t offset = -1; // absolute, with the package's shift applied
    std::int64_t size = -1;
    int storage = 0; // 0 stored, 1 raw DEFLATE, 2 scrambled; other values read as stored
};

class TUnpackStruc : public TRefObject {
public:
    // Takes over the parsed directory.
    explicit TUnpackStruc(TRef<TIniFile> directory) : directory_(std::move(directory)) {}

    const TIniFile& Directory() const { return *directory_; }

    // Looks `name` up by its escaped section name, without regard to case. False when the section
    // is missing or _ps or _sz reads as -1 (missing or not a number). The offset has `shift` added
    // (a sum past the 64-bit range gives an offset no file holds).
    bool Lookup(std::string_view name, std::int64_t shift, TPackageEntry& entry) const;

    // The section names of the entries, in directory order ("$protection$" and sections that are
    // no entries left out).
    std::vector<std::string> EntrySections() const;
    // The entry of a section found by EntrySections (offset without the shift).
    bool SectionEntry(const TIniSection& section, TPackageEntry& entry) const;

protected:
    ~TUnpackStruc() override = default;

private:
    TRef<TIniFile> directory_;
};

} // namespace kiv
