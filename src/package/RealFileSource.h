// TRealFileSource: the files of the disk. A name with a "|" opens the part before the first "|"
// (the rest is for the consumer, a video stream selector for example); the path modifiers are
// applied; a relative name is taken against the source's base folder (none: the current folder);
// the result goes to the disk through DiskPath and is opened for reading with every sharing mode.
// Read errors on the stream later give 0 bytes instead of raising.
#pragma once

#include "package/FileSource.h"

#include <string>

namespace kiv {

class TRealFileSource : public TFileSource {
public:
    // `baseFolder` (a Windows or Linux folder name, empty: the current folder) is where relative
    // names are looked for.
    explicit TRealFileSource(std::string baseFolder = {});

    // Null when the file does not exist, is not a regular file (a folder, a FIFO, a device) or
    // cannot be opened; never blocks, never raises.
    TRef<TStream> Open(const std::string& name) override;

    // The disk name an open of `name` would use (before DiskPath).
    std::string DiskName(const std::string& name) const;
    const std::string& BaseFolder() const { return baseFolder_; }

protected:
    ~TRealFileSource() override = default;

private:
    std::string baseFolder_;
};

// Opens an existing disk file by its Windows name (through DiskPath) for reading with read, write
// and delete sharing; a read error later gives 0 bytes. Null on any failure; never raises.
TRef<TStream> OpenDiskStream(const std::string& name);

} // namespace kiv
