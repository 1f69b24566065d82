// Composite sound descriptions on arbitrary bytes: what reads back is within the limits, saves and
// reads back to the same timeline, and its envelopes prepare and evaluate without fault. The bytes
// also go through the volume point reader.
#include "audio/CompositeDescription.h"
#include "audio/VolumeEnvelope.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void ExerciseEnvelopes(const kiv::TVolumeParamsList& envelopes, std::int64_t length) {
    Check(envelopes.size() <= kiv::kMaxCompositeEnvelopes);
    for (const kiv::TVolumeParams& envelope : envelopes) {
        const std::vector<kiv::TEnvelopeStep> steps = kiv::PrepareEnvelope(envelope, length);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            Check(steps[i].bytePosition % 4 == 0);
            Check(i == 0 || steps[i - 1].bytePosition < steps[i].bytePosition);
        }
        for (const std::int64_t at : {std::int64_t{0}, length * 44, length * 176, std::int64_t{-4}})
            kiv::EnvelopeVolumeAt(steps, at);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    kiv::ParseVolumeParams(bytes.substr(0, 4096), 0, 60000);

    // With the marker in front of the bytes, and the bytes as they are.
    for (const std::string& text :
         {std::string(kiv::kCompositeMarker) + std::string(bytes), std::string(bytes)}) {
        const std::optional<kiv::TCompositeDescription> read = kiv::ReadCompositeText(text);
        if (!read) continue;
        Check(read->duration > 0 && read->duration <= kiv::kMaxCompositeTime);
        Check(!read->items.empty() && read->items.size() <= kiv::kMaxCompositeItems);
        bool plainNames = true;
        for (const kiv::TCompositeItem& item : read->items) {
            Check(item.timeLine >= 0 && item.beginTime >= 0 && item.duration >= 0);
            Check(item.timeLine + item.duration <= kiv::kMaxCompositeTime);
            ExerciseEnvelopes(item.envelopes, item.duration);
            plainNames = plainNames && item.fileName.find(kiv::kCompositeMarker) == std::string::npos;
        }
        ExerciseEnvelopes(read->mainVolume, read->duration);

        // Saved as one document it reads back to the same timeline.
        if (!plainNames) continue;
        const std::optional<kiv::TCompositeDescription> again =
            kiv::ReadCompositeText(kiv::WriteCompositeText(*read));
        Check(again.has_value());
        Check(again->duration == read->duration && again->items.size() == read->items.size());
        for (std::size_t i = 0; i < read->items.size(); ++i) {
            Check(again->items[i].timeLine == read->items[i].timeLine);
            Check(again->items[i].beginTime == read->items[i].beginTime);
            Check(again->items[i].duration == read->items[i].duration);
            Check(again->items[i].envelopes == read->items[i].envelopes);
        }
        Check(again->mainVolume == read->mainVolume);
    }
    return 0;
}
