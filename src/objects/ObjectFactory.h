// The object class registry: a process-wide chain of factories, each turning the type codes it
// knows into new objects. Boxes, frames, splitters, images, texts, buttons, view ports and masks
// are registered from the start; video objects register their own factory when their code is
// linked. A type code no factory knows creates nothing: the property node stays (for timing), and
// the object with its subtree is not drawn.
//
// Threads: factories are added at start-up; Create may run on any thread.
#pragma once

#include "base/RefObject.h"

#include <memory>

namespace kiv {

class TKivObject;

class TObjectFactory {
public:
    virtual ~TObjectFactory() = default;
    // A new object of that type under `parent`, or none when the factory does not make it.
    virtual TRef<TKivObject> Create(int typeCode, TKivObject& parent) const = 0;
};

// Appends a factory to the chain; earlier factories are asked first. With `first` the factory is
// asked before every other one, the built-in ones included (tests put stand-ins there).
void RegisterObjectFactory(std::shared_ptr<const TObjectFactory> factory, bool first = false);
// Asks the chain, the built-in factories first; none when no factory makes the type.
TRef<TKivObject> CreateKivObject(int typeCode, TKivObject& parent);

} // namespace kiv
