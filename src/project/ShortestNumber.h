// Numbers written in the shortest decimal form that reads back to the same value ("6", "-2",
// "0.1", "1e-08"), as kivtool prints them and as curve function names carry their control points.
#pragma once

#include <string>

namespace kiv {

std::string ShortestText(double value);
std::string ShortestText(float value);

} // namespace kiv
