// Text macros and text picture names over arbitrary text: expansion ends, never grows past its
// cap and never gives an empty line; names keep the case of the text and parse back.
#include "objects/KivText.h"
#include "objects/text/TextRender.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Values taken from the input itself, so that they may name macros too.
    const std::size_t cut = text.find('|');
    const std::string_view body = cut == std::string_view::npos ? text : text.substr(0, cut);
    const std::string value =
        cut == std::string_view::npos ? std::string("<%SlideIndex%>") : std::string(text.substr(cut + 1));
    const std::string expanded = kiv::ExpandMacros(body, [&](std::string_view) { return value; });
    if (expanded.empty() || expanded.size() > (std::size_t{1} << 20) + body.size() + value.size())
        std::abort();
    if (kiv::DecodeTextCase(kiv::EncodeTextCase(text)) != text) std::abort();
    kiv::TTextRequest request;
    request.lines = kiv::TextContentLines(body, false);
    kiv::TTextRequest back;
    if (!kiv::ParseTextPictureName(kiv::TextPictureName(request), back) || back.lines != request.lines)
        std::abort();
    kiv::TTextRequest any;
    kiv::ParseTextPictureName(text, any);
    return 0;
}
