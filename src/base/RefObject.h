// TRefObject: the base of nearly every class. The reference count starts at 1 when the object is
// created (the creator owns that reference); AddRef and Release change it atomically and the
// Release that brings it to 0 destroys the object. Copying an object does not copy its count.
// Releasing an object whose count is already 0 is the assertion "Dupliacte free or _release at ".
// TRef<T> holds one reference and releases it when it goes.
//
// With KIV_DEBUG_CHECKS (debug and test builds) an object checks when it is destroyed that nobody
// still holds it: one made by `new` must die through its last Release (count 0); one on the stack
// or inside another object may keep only its creator's reference (count 1). A violation is a
// dangling reference in the making: the assertion text is reported and the process aborts.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>
#include <utility>

namespace kiv {

class TRefObject {
public:
#if defined(KIV_DEBUG_CHECKS)
    TRefObject() noexcept : onHeap_(ClaimHeapMark(this)) {}
    TRefObject(const TRefObject&) noexcept : onHeap_(ClaimHeapMark(this)) {}

    // Objects made by `new` are marked, so that the debug check knows how they must die.
    static void* operator new(std::size_t size);
    static void* operator new(std::size_t size, std::align_val_t alignment);
    static void* operator new(std::size_t, void* place) noexcept { return place; }
    static void operator delete(void* memory) noexcept;
    static void operator delete(void* memory, std::align_val_t alignment) noexcept;
    static void operator delete(void*, void*) noexcept {}
#else
    TRefObject() noexcept = default;
    TRefObject(const TRefObject&) noexcept {}
#endif
    TRefObject& operator=(const TRefObject&) noexcept { return *this; }

    void AddRef() const noexcept { refCount_.fetch_add(1, std::memory_order_relaxed); }
    // Drops one reference; the last one destroys the object. Any thread may call it.
    void Release() const;
    int RefCount() const noexcept { return refCount_.load(std::memory_order_acquire); }

protected:
    virtual ~TRefObject();
    // Called once when the count reaches 0, before the destructor. Returning false keeps the
    // memory alive: the object has arranged to delete itself later (a thread that is still
    // running, for example). The count stays 0, so a further Release is a double free.
    virtual bool BeforeDestruction() { return true; }
    // Deletes an object whose BeforeDestruction returned false, once it is safe.
    void DestroyDeferred() const { delete this; }

private:
    mutable std::atomic<int> refCount_{1};
#if defined(KIV_DEBUG_CHECKS)
    // True when `self` is the object the last TRefObject::operator new on this thread made.
    static bool ClaimHeapMark(const void* self) noexcept;

    // Only checked builds carry the mark: it costs every object (an INI item, say) eight bytes.
    const bool onHeap_;
#endif
};

// An owning pointer to a TRefObject. Taking over a new object and sharing an existing one are two
// spellings: Adopt() (or MakeRef) takes over the creator's reference, Share() adds one of its own.
// There is no constructor from a raw pointer, so `TRef<T>(new T)` cannot leak by accident.
template <class T>
class TRef {
public:
    TRef() noexcept = default;
    TRef(std::nullptr_t) noexcept {}
    TRef(const TRef& other) noexcept : object_(other.object_) { AddRefHeld(); }
    TRef(TRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    template <class U>
    TRef(TRef<U>&& other) noexcept : object_(other.Detach()) {}
    template <class U>
    TRef(const TRef<U>& other) noexcept : object_(other.Get()) {
        AddRefHeld();
    }
    ~TRef() { Reset(); }

    TRef& operator=(TRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }

    // Takes over a reference the caller already owns (for example a freshly created object).
    static TRef Adopt(T* object) noexcept {
        TRef ref;
        ref.object_ = object;
        return ref;
    }
    // Holds an object somebody else owns, adding a reference of its own.
    static TRef Share(T* object) noexcept {
        TRef ref;
        ref.object_ = object;
        ref.AddRefHeld();
        return ref;
    }
    // Gives up the held reference without releasing it.
    T* Detach() noexcept { return std::exchange(object_, nullptr); }
    void Reset() noexcept {
        if (T* old = std::exchange(object_, nullptr)) old->Release();
    }

    T* Get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    T& operator*() const noexcept { return *object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    friend bool operator==(const TRef& a, const TRef& b) noexcept { return a.object_ == b.object_; }

private:
    void AddRefHeld() const noexcept {
        if (object_) object_->AddRef();
    }

    T* object_ = nullptr;
};

// A new reference to an object someone already holds, its class deduced (TRef<T>::Share spelled out).
template <class T>
TRef<T> ShareRef(T* object) noexcept {
    return TRef<T>::Share(object);
}

// Creates an object and hands its first reference to a TRef.
template <class T, class... Args>
TRef<T> MakeRef(Args&&... args) {
    return TRef<T>::Adopt(new T(std::forward<Args>(args)...));
}

} // namespace kiv
