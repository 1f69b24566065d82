// The process-wide millisecond clock: milliseconds since the process started, from a monotonic
// source (the multimedia timer count of the original minus its value at start-up).
#pragma once

#include <cstdint>

namespace kiv {

std::int64_t ProcessMilliseconds();

} // namespace kiv
