#include "objects/ObjectFactory.h"

#include "objects/KivBox.h"
#include "objects/KivButton.h"
#include "objects/KivImage.h"
#include "objects/KivText.h"
#include "objects/ViewPort.h"

#include <mutex>
#include <vector>

namespace kiv {

namespace {

// View ports and masks.
class TMaskFactory final : public TObjectFactory {
public:
    TRef<TKivObject> Create(int typeCode, TKivObject& parent) const override {
        switch (typeCode) {
        case kTypeViewPort:
            return MakeRef<TKivViewPort>(&parent);
        case kTypeMaskStencil:
            return MakeRef<TKivMaskStencil>(&parent);
        case kTypeMaskContent:
            return MakeRef<TKivMaskContent>(&parent);
        default:
            return {};
        }
    }
};

// Frames, boxes, splitters, images, texts and buttons.
class TBoxFactory final : public TObjectFactory {
public:
    TRef<TKivObject> Create(int typeCode, TKivObject& parent) const override {
        if (typeCode == kTypeFrame || typeCode == kTypeBox || typeCode == kTypeSplitter)
            return MakeRef<TKivBox>(&parent, typeCode);
        if (typeCode == kTypeImage || typeCode == kTypeAniImage) return MakeRef<TKivImage>(&parent, typeCode);
        if (typeCode == kTypeText) return MakeRef<TKivText>(&parent);
        if (typeCode == kTypeButton) return MakeRef<TKivButton>(&parent);
        return {};
    }
};

struct TFactoryChain {
    std::mutex lock;
    std::vector<std::shared_ptr<const TObjectFactory>> factories{std::make_shared<TMaskFactory>(),
                                                                 std::make_shared<TBoxFactory>()};
};

TFactoryChain& Chain() {
    static TFactoryChain chain;
    return chain;
}

} // namespace

void RegisterObjectFactory(std::shared_ptr<const TObjectFactory> factory, bool first) {
    if (!factory) return;
    TFactoryChain& chain = Chain();
    std::lock_guard<std::mutex> guard(chain.lock);
    if (first)
        chain.factories.insert(chain.factories.begin(), std::move(factory));
    else
        chain.factories.push_back(std::move(factory));
}

TRef<TKivObject> CreateKivObject(int typeCode, TKivObject& parent) {
    if (typeCode == kTypeNone) return {};
    std::vector<std::shared_ptr<const TObjectFactory>> factories;
    {
        TFactoryChain& chain = Chain();
        std::lock_guard<std::mutex> guard(chain.lock);
        factories = chain.factories;
    }
    for (const auto& factory : factories)
        if (TRef<TKivObject> object = factory->Create(typeCode, parent)) return object;
    return {};
}

} // namespace kiv
