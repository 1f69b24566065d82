#include "objects/FilterRegistry.h"

#include "base/CaseFold.h"
#include "objects/ColorFilters.h"

#include <mutex>

namespace kiv {

namespace {

struct TRegistry {
    std::mutex mutex;
    std::vector<TFilterClass> classes;
};

TRegistry& Registry() {
    static TRegistry registry;
    return registry;
}

// The caller holds the registry's mutex.
void AddClass(TRegistry& registry, TFilterClass filterClass) {
    for (TFilterClass& existing : registry.classes) {
        if (SameTextFolded(existing.name, filterClass.name)) {
            existing = std::move(filterClass);
            return;
        }
    }
    registry.classes.push_back(std::move(filterClass));
}

// Enters the built-in classes once, before any other registration or lookup.
void EnsureFilled() {
    static std::once_flag once;
    std::call_once(once, [] {
        TRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (TFilterClass& filterClass : BuiltInColorFilterClasses())
            AddClass(registry, std::move(filterClass));
    });
}

} // namespace

void RegisterFilterClass(TFilterClass filterClass) {
    EnsureFilled();
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    AddClass(registry, std::move(filterClass));
}

TRef<TObjectFilter> CreateFilter(std::string_view name) {
    EnsureFilled();
    std::function<TRef<TObjectFilter>()> create;
    {
        TRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        for (const TFilterClass& filterClass : registry.classes)
            if (SameTextFolded(filterClass.name, name)) create = filterClass.create;
    }
    return create ? create() : TRef<TObjectFilter>();
}

std::vector<TFilterClass> FilterClasses() {
    EnsureFilled();
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.classes;
}

} // namespace kiv
