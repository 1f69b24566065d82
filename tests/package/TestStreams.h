// Streams over given bytes for the package tests.
#pragma once

#include "package/MemoryStream.h"

#include <string_view>

namespace kiv::test {

// A memory stream holding `bytes`, positioned at 0.
inline TRef<TMemoryStream> MemoryWith(std::string_view bytes) {
    auto stream = MakeRef<TMemoryStream>();
    if (!bytes.empty()) stream->WriteBuffer(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    stream->SetPosition(0);
    return stream;
}

} // namespace kiv::test
