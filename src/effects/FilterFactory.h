// The transition filter factory: the filter of a descriptor's family for a drawing rectangle.
#pragma once

#include "render/EffectRenderer.h"

namespace kiv {

// The filter for `effect` over `rect` (none without a descriptor, or when its switches leave no
// direction or shape on); the filter is initialised with the soft-edge width rect width × smoothline
// and the duration. Unknown families draw a dissolve; custom transitions build their slide for the
// show of `outgoing` (a dissolve without it).
TRef<TDrawFilter> MakeTransitionFilter(const TRect& rect, const TKivEffect* effect, float smoothline,
                                       double duration, TDrawItem* outgoing = nullptr);
// Installs MakeTransitionFilter as the drawer's factory (idempotent).
void InstallTransitionFilters();

} // namespace kiv
