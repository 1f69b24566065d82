#include "project/ShortestNumber.h"

#include <charconv>

namespace kiv {

namespace {

template <class T> std::string Shortest(T value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

} // namespace

std::string ShortestText(double value) {
    return Shortest(value);
}
std::string ShortestText(float value) {
    return Shortest(value);
}

} // namespace kiv
