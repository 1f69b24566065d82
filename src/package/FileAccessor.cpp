#include "package/FileAccessor.h"

#include "package/FolderPath.h"
#include "package/LoadCallback.h"
#include "package/OutsideReads.h"
#include "package/PartialStream.h"
#include "package/PathModifiers.h"
#include "package/RealFileSource.h"
#include "package/WindowsPath.h"

namespace kiv {

TFileAccessor::TFileAccessor(TRef<TFileSource> source, const std::string& baseFolder)
    : source_(std::move(source)), baseFolder_(WithTrailingSeparator(baseFolder)) {}

TRef<TFileAccessor> TFileAccessor::Copy() const {
    return MakeRef<TFileAccessor>(source_, baseFolder_);
}

void TFileAccessor::SetBaseFolder(const std::string& folder) {
    baseFolder_ = WithTrailingSeparator(folder);
}

TRef<TStream> TFileAccessor::Open(const std::string& name) const {
    try {
        TRef<TStream> stream;
        {
            TLockGuard lock(source_->OpenLock());
            stream = source_->Open(name);
        }
        if (!stream) return nullptr;
        const std::int64_t size = stream->GetSize();
        // A forward-only stream of unknown size cannot be windowed; it is handed out as it is.
        if (size < 0) return stream;
        auto window = TRef<TPartialStream>::Adopt(new TPartialStream(stream.Detach(), true, 0, size));
        window->SetCallback(ProcessLoadCallback(), TPartialStream::kCallbackChunkLimit);
        return window;
    } catch (const std::exception&) {
        return nullptr;
    }
}

bool TFileAccessor::ResolveDiskPath(const std::string& name, TResolvedPath& resolved) const {
    try {
        const auto found = [&resolved](const std::string& candidate) {
            if (!DiskFileExists(candidate)) return false;
            resolved.name = candidate;
            resolved.diskPath = DiskPath(BeforeSelector(candidate));
            return true;
        };
        if (name.empty()) return false;
        if (found(name)) return true;
        const std::string modified = ApplyPathModifiers(name);
        if (modified != name && found(modified)) return true;
        if (!baseFolder_.empty() && found(baseFolder_ + LastComponent(name))) return true;
    } catch (const std::exception&) {
    }
    return false;
}

TRef<TStream> TFileAccessor::OpenDiskFile(const std::string& name) const {
    TResolvedPath resolved;
    if (!ResolveDiskPath(name, resolved)) return nullptr;
    if (!OutsideReadAllowed(resolved.diskPath, baseFolder_)) return nullptr;
    return OpenDiskStream(std::string(BeforeSelector(resolved.name)));
}

TRef<TFileAccessor> ProcessFileAccessor() {
    static const TRef<TFileAccessor> accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>());
    return accessor;
}

} // namespace kiv
