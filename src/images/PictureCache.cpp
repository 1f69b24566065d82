#include "images/PictureCache.h"

#include "base/CaseFold.h"
#include "base/Exception.h"
#include "base/Log.h"
#include "images/PictureLoader.h"
#include "images/Placeholder.h"

#include <mutex>
#include <unordered_map>
#include <vector>

namespace kiv {

namespace {

// One picture of one source. `uses` is guarded by the cache's global lock; `store` and `loaded`
// by the handle's own lock.
class TImageHandle : public TRefObject {
public:
    TImageHandle(std::string key, std::uint64_t serial) : key(std::move(key)), serial(serial) {}

    const std::string key;
    const std::uint64_t serial;
    int uses = 0;
    std::mutex lock;
    TRef<TBitmapStore> store;
    bool loaded = false;

protected:
    ~TImageHandle() override = default;
};

class TPictureCache {
public:
    static TPictureCache& Instance() {
        static TPictureCache* cache = new TPictureCache; // lives until the very end of the process
        return *cache;
    }

    // Finds or makes the handle of (key, serial) and counts one use of it.
    TImageHandle* Acquire(const std::string& key, std::uint64_t serial) {
        std::lock_guard lock(global_);
        std::vector<TImageHandle*>& bucket = table_[key];
        for (TImageHandle* handle : bucket) {
            if (handle->serial != serial) continue;
            ++handle->uses;
            return handle;
        }
        auto* handle = new TImageHandle(key, serial);
        handle->uses = 1;
        bucket.push_back(handle);
        ++live_;
        return handle;
    }

    void AddUse(TImageHandle* handle) {
        std::lock_guard lock(global_);
        ++handle->uses;
    }

    // Drops one use; the last one takes the handle out of the table and frees it.
    void ReleaseUse(TImageHandle* handle) {
        {
            std::lock_guard lock(global_);
            if (--handle->uses > 0) return;
            auto found = table_.find(handle->key);
            if (found != table_.end()) {
                std::erase(found->second, handle);
                if (found->second.empty()) table_.erase(found);
            }
            --live_;
        }
        handle->Release();
    }

    std::size_t Live() {
        std::lock_guard lock(global_);
        return live_;
    }

private:
    TPictureCache() { table_.reserve(9997); }

    std::mutex global_;
    std::unordered_map<std::string, std::vector<TImageHandle*>> table_;
    std::size_t live_ = 0;
};

// A picture handed out by the cache: it holds one use of its handle, and so do its clones.
class TCachedImage : public TImage {
public:
    // Takes over one use of `handle`.
    TCachedImage(TRef<TBitmapStore> store, TImageHandle* handle)
        : TImage(std::move(store)), handle_(handle) {}

    TRef<TImage> Clone() const override {
        TPictureCache::Instance().AddUse(handle_);
        return MakeRef<TCachedImage>(StoreRef(), handle_);
    }

protected:
    ~TCachedImage() override { TPictureCache::Instance().ReleaseUse(handle_); }

private:
    TImageHandle* handle_;
};

int SourceRotation(const std::string& name, void* context) {
    return static_cast<const TFileSource*>(context)->Rotation(name);
}

TRef<TBitmapStore> FromProviders(TFileSource& source, const std::string& name) {
    for (const TPictureProvider& provider : source.PictureProviders()) {
        TRef<TRefObject> made;
        try {
            made = provider.code(provider.data, name);
        } catch (const std::exception& error) {
            TLog::Line("Picture provider failed on " + name + ": " + error.what());
            continue;
        }
        if (!made) continue;
        if (auto* store = dynamic_cast<TBitmapStore*>(made.Get())) return TRef<TBitmapStore>::Share(store);
        if (auto* image = dynamic_cast<TImage*>(made.Get())) return image->StoreRef();
    }
    return nullptr;
}

// Makes the picture of a handle: providers, then the file, then the placeholder.
TRef<TBitmapStore> MakeStore(TFileAccessor& accessor, const std::string& name) {
    TFileSource& source = accessor.Source();
    if (TRef<TBitmapStore> store = FromProviders(source, name)) return store;
    bool opened = false;
    if (TRef<TStream> stream = accessor.Open(name)) {
        opened = true;
        try {
            if (TRef<TImage> image = DecodePicture(*stream, name, &SourceRotation, &source))
                return image->StoreRef();
        } catch (const std::exception& error) {
            TLog::Line("Picture " + name + " does not decode: " + error.what());
        }
    }
    const TPlaceholderKind kind = IsVideoName(name) ? TPlaceholderKind::Video : TPlaceholderKind::Image;
    try {
        return MakePlaceholderStore(name, kind, opened);
    } catch (const std::exception& error) {
        TLog::Line("Placeholder for " + name + " cannot be made: " + error.what());
        return nullptr;
    }
}

} // namespace

TRef<TImage> LoadCachedPicture(TFileAccessor& accessor, const std::string& name) {
    TPictureCache& cache = TPictureCache::Instance();
    TImageHandle* handle = cache.Acquire(FoldUtf8(name), accessor.Source().Serial());
    TRef<TBitmapStore> store;
    {
        std::lock_guard lock(handle->lock);
        if (!handle->loaded) {
            handle->store = MakeStore(accessor, name);
            handle->loaded = true;
        }
        store = handle->store;
    }
    if (!store) {
        cache.ReleaseUse(handle);
        return nullptr;
    }
    try {
        return MakeRef<TCachedImage>(std::move(store), handle);
    } catch (const EAssertionFailed&) {
        cache.ReleaseUse(handle);
        throw;
    } catch (...) {
        cache.ReleaseUse(handle);
        return nullptr;
    }
}

std::size_t LiveImageHandles() {
    return TPictureCache::Instance().Live();
}

} // namespace kiv
