// The package opener on arbitrary bytes: open from memory, list the directory and read every
// entry. Damaged packages must give an error text or a stream exception, never a crash.
#include "package/KivUnpack.h"
#include "package/StringStream.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto source = kiv::MakeRef<kiv::TStringStream>(std::string(reinterpret_cast<const char*>(data), size));
    try {
        auto unpack = kiv::MakeRef<kiv::TKivUnpack>(*source);
        if (!unpack->IsOpen()) return 0;
        if (unpack->Base() < 0 || unpack->Base() > unpack->End()) std::abort();
        for (const std::string& name : unpack->Structure()->EntrySections()) {
            try {
                kiv::TRef<kiv::TStream> entry = unpack->OpenEntry(name);
                if (!entry) continue;
                char buffer[4096];
                std::int64_t total = 0;
                while (const std::int32_t got = entry->Read(buffer, sizeof buffer)) {
                    if (got < 0 || got > static_cast<std::int32_t>(sizeof buffer)) std::abort();
                    total += got;
                }
                if (entry->GetSize() >= 0 && total > entry->GetSize()) std::abort();
            } catch (const kiv::Exception&) {
            }
        }
    } catch (const kiv::Exception&) {
    }
    return 0;
}
