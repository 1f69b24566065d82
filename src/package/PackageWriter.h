// TKivPackWriter: writes a package the way the reader expects it: the entries' bytes (stored,
// raw DEFLATE or scrambled), then the raw-DEFLATE directory (one section per entry with _ps, _sz,
// _pm, and "$protection$" with strucpos, allowmodify, kivversion), then the trailer: the
// directory offset, ".dne" and, for the appended form, the package length.
// The directory is written as UTF-8 with a byte-order mark, so names keep every character.
#pragma once

#include "package/PackageFormat.h"
#include "package/Stream.h"

#include <string>
#include <string_view>
#include <vector>

namespace kiv {

enum class TPackageForm { Own, Appended };

// A name the directory cannot hold: empty, a blank at either end (the reader trims section
// names), or the same section name twice (names compare without regard to case).
class EPackageNameError : public Exception {
public:
    using Exception::Exception;
};

// Raw DEFLATE (RFC 1951, window 15 bits, no header) of `bytes`.
std::string DeflateRaw(std::string_view bytes, int level = -1);

class TKivPackWriter {
public:
    // The package starts at `target`'s current position (its base); offsets in the directory are
    // positions in `target`. The target must stay alive until Finish.
    explicit TKivPackWriter(TStream& target);

    void SetVersion(std::string_view version) { version_ = version; }
    void SetAllowModify(bool allow) { allowModify_ = allow; }
    // zlib level of deflated entries (-1 the default, 1 fastest ... 9 smallest).
    void SetDeflateLevel(int level) { level_ = level; }

    // Writes one entry from the bytes, or from `source` (its position to its end, read in blocks).
    // Raises EPackageNameError for a name the directory cannot hold, stream errors as they come.
    void AddEntry(std::string_view name, std::string_view bytes, TEntryStorage storage);
    void AddEntry(std::string_view name, TStream& source, TEntryStorage storage);

    // Writes the directory and the trailer. In the own-file form the package base is 0 (the
    // reader assumes it); in the appended form the base is where the writer started.
    void Finish(TPackageForm form);

    std::int64_t EntryCount() const { return static_cast<std::int64_t>(entries_.size()); }

private:
    struct TEntry {
        std::string section;
        std::int64_t offset;
        std::int64_t size;
        TEntryStorage storage;
    };

    std::string CheckedSection(std::string_view name) const;
    std::int64_t WriteStored(TStream& source);
    std::int64_t WriteScrambled(TStream& source);
    std::int64_t WriteDeflated(TStream& source);

    TStream& target_;
    std::int64_t base_;
    std::string version_;
    bool allowModify_ = false;
    int level_ = -1;
    bool finished_ = false;
    std::vector<TEntry> entries_;
    std::vector<std::string> foldedSections_;
};

} // namespace kiv
