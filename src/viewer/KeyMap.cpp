#include "viewer/KeyMap.h"

namespace kiv {

const TKeyMap* TKeyMap::Find(int modifiers, int eventFlag) const {
    // Iterative, so that a long chain cannot exhaust the stack.
    for (const TKeyMap* binding = this; binding; binding = binding->next_.Get())
        if (binding->Matches(modifiers, eventFlag)) return binding;
    return nullptr;
}

} // namespace kiv
