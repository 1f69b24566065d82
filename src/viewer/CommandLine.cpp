#include "viewer/CommandLine.h"

#include "base/NumberText.h"

namespace kiv {

TStartPosition StartPositionOf(const TCommandLine& commandLine) {
    TStartPosition start;
    const char* name = commandLine.HasSwitch("slide")  ? "slide"
                       : commandLine.HasSwitch("time") ? "time"
                                                       : nullptr;
    if (!name) return start;
    start.isTime = std::string_view(name) == "time";
    if (const auto value = commandLine.Value(name)) {
        const auto number = ParseInt32(*value);
        if (number && *number > 0) start.position = *number - 1;
    }
    return start;
}

} // namespace kiv
