// TFileSource: where a show's files come from (disk files, the entries of a package). A source
// opens a file by the name the project uses, holds the picture providers asked before its own
// files, answers the rotation query of picture decoding, and carries a serial number unique in the
// process that keeps its pictures apart from another source's pictures of the same name.
//
// Users open files through TFileAccessor, which holds the source's open lock and turns every
// failure into "no stream"; a source's own Open may raise.
#pragma once

#include "base/RefObject.h"
#include "base/Sync.h"
#include "package/PictureProviders.h"
#include "package/Stream.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kiv {

class TFileSource : public TRefObject {
public:
    TFileSource();
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    // Opens `name` for reading; null when the source has no such file. May raise. Called with the
    // open lock held (TFileAccessor does that).
    virtual TRef<TStream> Open(const std::string& name) = 0;

    // How the picture called `name` is to be turned after decoding: 1, 3, 6 or 8 (see
    // RotateBitmap); 0 when the source knows nothing of it. Any thread.
    virtual int Rotation(const std::string& name) const;

    // Unique per source in the process; part of the picture cache key.
    std::uint64_t Serial() const { return serial_; }
    // Held while the source opens a name.
    TSafeCriticalSection& OpenLock() { return openLock_; }

    // Adds a picture provider after those added before; freeing the handle removes it. Any thread.
    TRef<TCallbackHandle> AddPictureProvider(TPictureProviderCode code, void* data);
    // The providers in the order they were added.
    std::vector<TPictureProvider> PictureProviders() const { return providers_->Snapshot(); }

protected:
    ~TFileSource() override = default;

private:
    TSafeCriticalSection openLock_;
    std::uint64_t serial_;
    std::shared_ptr<TPictureProviderList> providers_;
};

} // namespace kiv
