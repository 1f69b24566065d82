// Program resources and TResourceStream. Linux programs carry no resource section, so resources
// are byte blocks compiled into the program and registered by name and type at start-up (see
// TResourceRegistration); names and types compare without regard to case.
// TResourceStream is a memory stream holding a copy of one resource.
#pragma once

#include "package/MemoryStream.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace kiv {

// The type of plain data resources.
inline constexpr std::string_view kResourceTypeRcData = "RCDATA";

// Registers (or replaces) the resource `name` of `type`. The bytes are not copied: they must
// stay valid for the life of the program (data compiled into it). Any thread.
void RegisterResource(std::string_view name, std::string_view type, const void* data, std::size_t size);

// Registers a resource from a static initialiser:
//   static const kiv::TResourceRegistration logo("LOGO", kiv::kResourceTypeRcData, bytes, sizeof bytes);
struct TResourceRegistration {
    TResourceRegistration(std::string_view name, std::string_view type, const void* data, std::size_t size) {
        RegisterResource(name, type, data, size);
    }
};

class TResourceStream : public TMemoryStream {
public:
    // A copy of the resource, or nothing when it is missing or empty.
    static TRef<TResourceStream> Create(std::string_view name, std::string_view type);
    // "RES:NAME.ext" (prefix in any case) opens the RCDATA resource NAME (the text up to the
    // first "."); any other name opens that file for reading. Nothing when neither exists.
    static TRef<TStream> OpenNamed(const std::string& name);

protected:
    TResourceStream() = default;
    ~TResourceStream() override = default;
};

} // namespace kiv
