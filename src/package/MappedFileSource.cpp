#include "package/MappedFileSource.h"

#include "base/CaseFold.h"

#include <vector>

namespace kiv {

TMappedFileSource::TMappedFileSource(std::string baseFolder) : TRealFileSource(std::move(baseFolder)) {}

TRef<TStream> TMappedFileSource::Open(const std::string& name) {
    std::string current = name;
    std::vector<std::string> seen;
    for (int depth = 0; fileMap_ && depth < kMaxMapDepth; ++depth) {
        const std::string* target = fileMap_->Target(current);
        if (!target) break;
        for (const std::string& earlier : seen)
            if (SameTextFolded(earlier, *target)) return nullptr; // a mapping loop opens nothing
        seen.push_back(current);
        current = *target;
    }
    return OpenUnmapped(current);
}

TRef<TStream> TMappedFileSource::OpenUnmapped(const std::string& name) {
    return TRealFileSource::Open(name);
}

int TMappedFileSource::Rotation(const std::string& name) const {
    if (!rotation_) return 0;
    return rotation_->Orientation(name).value_or(0);
}

void TMappedFileSource::SetFileMap(TFileMap map) {
    fileMap_ = std::move(map);
}
void TMappedFileSource::SetRotationState(TRotationState rotation) {
    rotation_ = std::move(rotation);
}

} // namespace kiv
