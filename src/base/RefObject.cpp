#include "base/RefObject.h"

#include "base/Assert.h"

#include <cstdio>

namespace kiv {

void TRefObject::Release() const {
    const int before = refCount_.fetch_sub(1, std::memory_order_acq_rel);
    if (before > 1) return;
    if (before <= 0) {
        refCount_.fetch_add(1, std::memory_order_relaxed); // undo, so the object stays "gone"
        char address[32];
        std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
        KIV_FAIL(std::string("Dupliacte free or _release at ") + address);
    }
    auto* self = const_cast<TRefObject*>(this);
    if (self->BeforeDestruction()) delete self;
}

} // namespace kiv
