#include "objects/GuidText.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <random>

namespace kiv {

std::string NewGuidText() {
    static std::mutex mutex;
    static std::mt19937_64 engine{std::random_device{}()};
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        high = engine();
        low = engine();
    }
    high = (high & ~0xF000ull) | 0x4000ull;                      // version 4
    low = (low & 0x3FFFFFFFFFFFFFFFull) | 0x8000000000000000ull; // variant 1
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>((high >> 16) & 0xFFFF), static_cast<unsigned>(high & 0xFFFF),
                  static_cast<unsigned>(low >> 48), static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFull));
    return text;
}

} // namespace kiv
