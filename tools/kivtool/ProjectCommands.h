// kivtool commands on a show's project: the slide timeline, one slide's times, the slide at a time
// and the transitions chosen for the slides.
#pragma once

#include "Commands.h"

namespace kivtool {

int RunTimeline(const TArgs& args);
int RunSlideTimes(const TArgs& args);
int RunFindSlide(const TArgs& args);
int RunTransitions(const TArgs& args);

} // namespace kivtool
