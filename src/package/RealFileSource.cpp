#include "package/RealFileSource.h"

#include "package/FileStream.h"
#include "package/FolderPath.h"
#include "package/PathModifiers.h"
#include "package/WindowsPath.h"

namespace kiv {

TRealFileSource::TRealFileSource(std::string baseFolder) : baseFolder_(std::move(baseFolder)) {}

std::string TRealFileSource::DiskName(const std::string& name) const {
    // The path modifiers apply to every disk open, so the part before a "|" gets them as well.
    std::string modified = ApplyPathModifiers(BeforeSelector(name));
    if (baseFolder_.empty()) return modified;
    return MakeFolderPath(baseFolder_, modified);
}

TRef<TStream> TRealFileSource::Open(const std::string& name) {
    return OpenDiskStream(DiskName(name));
}

TRef<TStream> OpenDiskStream(const std::string& name) {
    try {
        const std::string path = DiskPath(name);
        if (path.empty()) return nullptr;
        return MakeRef<TFileStreamEx>(path, TFileAccess::Read, TFileCreation::OpenExisting,
                                      kShareRead | kShareWrite | kShareDelete);
    } catch (const std::exception&) {
        return nullptr;
    }
}

} // namespace kiv
