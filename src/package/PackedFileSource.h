// TPackedFileSource: the entries of one show package, read through the TKivUnpack it owns. It keeps
// the FileMap and RotationState behaviour of TMappedFileSource; a name opens the package entry of
// that name (looked up without regard to case; a "|" part selects inside the file and is not part
// of the entry name). Disk files are reached through the accessor's disk operations, not here.
//
// Entry streams read through their own file handles, so opens and reads may come from several
// threads (TFileAccessor holds the open lock).
#pragma once

#include "package/KivUnpack.h"
#include "package/MappedFileSource.h"

namespace kiv {

class TPackedFileSource : public TMappedFileSource {
public:
    // Takes a reference to `unpack`, which must be open.
    explicit TPackedFileSource(TRef<TKivUnpack> unpack);

    TKivUnpack& Unpack() const { return *unpack_; }
    // True when the package holds an entry of that name.
    bool HasEntry(const std::string& name) const;

protected:
    ~TPackedFileSource() override = default;
    // The entry's stream; null when the package has no such entry. May raise on a broken entry.
    TRef<TStream> OpenUnmapped(const std::string& name) override;

private:
    TRef<TKivUnpack> unpack_;
};

} // namespace kiv
