// Colour values, UTF-8 decoding and case folding of arbitrary project text.
#include "base/CaseFold.h"
#include "base/ColorValue.h"
#include "base/Utf.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kiv::ReadColorValue(text, 0x12345678);
    const std::string folded = kiv::FoldUtf8(text);
    // Folding is idempotent and the hash follows the folded text.
    if (kiv::FoldUtf8(folded) != folded) std::abort();
    if (kiv::FoldedHash(text) != kiv::FoldedHash(folded)) std::abort();
    const std::u16string wide = kiv::Utf8ToUtf16(text);
    if (kiv::Utf8ToUtf16(kiv::Utf16ToUtf8(wide)) != wide) std::abort();
    return 0;
}
