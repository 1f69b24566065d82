#include "package/PackedFileSource.h"

#include "base/Assert.h"
#include "package/FolderPath.h"

namespace kiv {

TPackedFileSource::TPackedFileSource(TRef<TKivUnpack> unpack) : unpack_(std::move(unpack)) {
    KIV_ASSERT(unpack_ && unpack_->IsOpen(), "Packed file source without an open package");
}

bool TPackedFileSource::HasEntry(const std::string& name) const {
    TPackageEntry entry;
    return unpack_->FindEntry(BeforeSelector(name), entry);
}

TRef<TStream> TPackedFileSource::OpenUnmapped(const std::string& name) {
    return unpack_->OpenEntry(BeforeSelector(name));
}

} // namespace kiv
