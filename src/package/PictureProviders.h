// Picture providers of a file source: callbacks asked, in the order they were added, for a picture
// before the source's own files are opened (the slide host makes derived pictures this way). File
// access knows nothing of pictures, so a provider answers with an opaque reference-counted object;
// the picture cache accepts a bitmap store or a picture (images/PictureCache.h).
//
// Adding gives a TCallbackHandle; freeing the handle removes the provider. The list and the handles
// may be used from any thread, and a handle may outlive its source.
#pragma once

#include "base/RefObject.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace kiv {

// Makes the picture called `name`, or gives null when the name is not one of its own. Must not
// raise; it runs on whichever thread loads the picture, without any lock of file access held.
using TPictureProviderCode = TRef<TRefObject> (*)(void* data, const std::string& name);

struct TPictureProvider {
    TPictureProviderCode code = nullptr;
    void* data = nullptr;
};

class TPictureProviderList {
public:
    // Adds a provider at the end; the number identifies it for Remove.
    std::uint64_t Add(TPictureProvider provider);
    void Remove(std::uint64_t id);
    // The providers in order, copied under the list's lock.
    std::vector<TPictureProvider> Snapshot() const;

private:
    mutable std::mutex mutex_;
    std::uint64_t nextId_ = 1;
    std::vector<std::pair<std::uint64_t, TPictureProvider>> entries_;
};

// Removes its provider from the list when freed.
class TCallbackHandle : public TRefObject {
public:
    TCallbackHandle(std::weak_ptr<TPictureProviderList> list, std::uint64_t id)
        : list_(std::move(list)), id_(id) {}

protected:
    ~TCallbackHandle() override;

private:
    std::weak_ptr<TPictureProviderList> list_;
    std::uint64_t id_;
};

} // namespace kiv
