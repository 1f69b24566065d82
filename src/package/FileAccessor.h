// TFileAccessor: a show's files by the names its project uses. It holds one file source (shared by
// every copy of the accessor) and a base folder where disk names are looked for when they are not
// found otherwise. Opens never raise: whatever goes wrong gives no stream.
//
// Opens may come from several threads at once: the source serialises its opens with its lock, and
// the streams handed out are each used by one thread.
#pragma once

#include "base/RefObject.h"
#include "package/FileSource.h"
#include "package/Stream.h"

#include <string>

namespace kiv {

// Where Resolve found a disk file.
struct TResolvedPath {
    std::string name;     // the Windows name that was found (a "|" part of the request kept)
    std::string diskPath; // the Linux path of the file
};

class TFileAccessor : public TRefObject {
public:
    // `baseFolder` gets a trailing separator when it lacks one.
    explicit TFileAccessor(TRef<TFileSource> source, const std::string& baseFolder = {});

    // A new accessor on the same source with the same base folder.
    virtual TRef<TFileAccessor> Copy() const;

    TFileSource& Source() const { return *source_; }
    const TRef<TFileSource>& SourceRef() const { return source_; }
    const std::string& BaseFolder() const { return baseFolder_; }
    // Not thread-safe: set it before the accessor is shared.
    void SetBaseFolder(const std::string& folder);

    // The source's open under its lock. A stream that comes back is wrapped in a window over its
    // whole size that owns it and runs the process-wide load callback after every chunk of at
    // most 256 bytes. Null on any failure. Any thread.
    TRef<TStream> Open(const std::string& name) const;

    // Finds a disk file: the name itself when that file exists; else the name after the path
    // modifiers; else the base folder plus the name's last component. Existence is checked on the
    // part before any "|". False when none exists. Any thread.
    bool ResolveDiskPath(const std::string& name, TResolvedPath& resolved) const;

    // Resolves, then opens the file for reading with every sharing mode. A file outside the base
    // folder is opened only as OutsideReads.h allows. Null on any failure.
    TRef<TStream> OpenDiskFile(const std::string& name) const;

protected:
    ~TFileAccessor() override = default;

private:
    TRef<TFileSource> source_;
    std::string baseFolder_;
};

// The process-wide accessor over the disk (a TRealFileSource with an empty base folder), made on
// first use. Any thread.
TRef<TFileAccessor> ProcessFileAccessor();

} // namespace kiv
