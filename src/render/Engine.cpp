#include "render/Engine.h"

#include <atomic>
#include <mutex>

namespace kiv {
namespace {

struct TEngineSlot {
    std::mutex lock;
    std::function<TRef<T3DEngine>()> factory;
    TRef<T3DEngine> engine;
    bool tried = false;
};

TEngineSlot& Slot() {
    static TEngineSlot slot;
    return slot;
}

} // namespace

T3DEngine* T3DEngine::Get() {
    auto& slot = Slot();
    std::lock_guard guard(slot.lock);
    if (!slot.engine && !slot.tried && slot.factory) {
        slot.tried = true;
        slot.engine = slot.factory();
    }
    return slot.engine.Get();
}

void T3DEngine::SetFactory(std::function<TRef<T3DEngine>()> factory) {
    TRef<T3DEngine> old;
    {
        auto& slot = Slot();
        std::lock_guard guard(slot.lock);
        old = std::move(slot.engine);
        slot.factory = std::move(factory);
        slot.tried = false;
    }
}

void T3DEngine::Shutdown() {
    TRef<T3DEngine> old;
    auto& slot = Slot();
    std::lock_guard guard(slot.lock);
    old = std::move(slot.engine);
    slot.tried = false;
}

namespace {
std::atomic<bool> exclusiveAllowed{true};
} // namespace

void T3DEngine::SetExclusiveAllowed(bool allowed) {
    exclusiveAllowed = allowed;
}

bool T3DEngine::ExclusiveAllowed() {
    return exclusiveAllowed.load();
}

int ShaderLevelFor(int vendorId, int pixelShaderVersion) {
    if (vendorId == 0x8086 && pixelShaderVersion >= 0x300) return 2;
    if (pixelShaderVersion < 0x200) return 0;
    return vendorId == 0x8086 ? 1 : 2;
}

} // namespace kiv
