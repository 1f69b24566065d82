// TAttachmentList: auxiliary objects that other layers park on a picture or a bitmap store and
// find again by their class (the drawer's texture cache, the GIF tiles tag). The list holds one
// reference to each object. Thread-safe.
#pragma once

#include "base/RefObject.h"

#include <mutex>
#include <vector>

namespace kiv {

class TAttachmentList {
public:
    void Add(TRef<TRefObject> object) {
        std::lock_guard lock(mutex_);
        objects_.push_back(std::move(object));
    }

    // The first attached object of class T (or derived from it), or null.
    template <class T> TRef<T> Find() const {
        std::lock_guard lock(mutex_);
        for (const auto& object : objects_)
            if (auto* match = dynamic_cast<T*>(object.Get())) return TRef<T>::Share(match);
        return nullptr;
    }

    // Removes `object`; false when it was not attached.
    bool Remove(const TRefObject* object) {
        std::lock_guard lock(mutex_);
        for (auto it = objects_.begin(); it != objects_.end(); ++it)
            if (it->Get() == object) {
                objects_.erase(it);
                return true;
            }
        return false;
    }

private:
    mutable std::mutex mutex_;
    std::vector<TRef<TRefObject>> objects_;
};

} // namespace kiv
