#include "base/RefObject.h"

#include "base/Assert.h"
#include "base/Process.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

namespace kiv {

#if defined(KIV_DEBUG_CHECKS)
namespace {
// The object the last TRefObject::operator new of this thread made, until its constructor claims
// it. A new-expression runs the constructor right after the allocation (constructor arguments that
// make other objects only hide the mark, so an object is never wrongly taken for a heap one).
thread_local const void* heapMark = nullptr;

void* Marked(void* memory) noexcept {
    heapMark = memory;
    return memory;
}

void ForgetMark(const void* memory) noexcept {
    if (heapMark == memory) heapMark = nullptr;
}
} // namespace

void* TRefObject::operator new(std::size_t size) {
    return Marked(::operator new(size));
}

void* TRefObject::operator new(std::size_t size, std::align_val_t alignment) {
    return Marked(::operator new(size, alignment));
}

void TRefObject::operator delete(void* memory) noexcept {
    ForgetMark(memory);
    ::operator delete(memory);
}

void TRefObject::operator delete(void* memory, std::align_val_t alignment) noexcept {
    ForgetMark(memory);
    ::operator delete(memory, alignment);
}

bool TRefObject::ClaimHeapMark(const void* self) noexcept {
    if (heapMark != self || self == nullptr) return false;
    heapMark = nullptr;
    return true;
}

#endif

TRefObject::~TRefObject() {
#if defined(KIV_DEBUG_CHECKS)
    // While an exception unwinds, a constructor may have failed after the count was set up; the
    // check stays out of the way then.
    if (std::uncaught_exceptions() > 0) return;
    // A heap object dies through its last Release (count 0); any other may keep its creator's one.
    const int count = refCount_.load(std::memory_order_acquire);
    if (onHeap_ ? count != 0 : count > 1) {
        char text[128];
        std::snprintf(text, sizeof text, "Object at %p destroyed while still referenced (count %d)",
                      static_cast<const void*>(this), count);
        // A destructor cannot raise; what still points here would fault later and far away.
        ReportAssertion(text, __FILE__, __LINE__);
        std::abort();
    }
#endif
}

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
