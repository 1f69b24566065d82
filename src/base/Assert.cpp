#include "base/Assert.h"

#include "base/Exception.h"
#include "base/Log.h"

namespace kiv {

std::string AssertionText(std::string_view message, std::string_view unit, int line) {
    const auto slash = unit.find_last_of("/\\");
    if (slash != std::string_view::npos) unit.remove_prefix(slash + 1);
    std::string text = "Asseertion with message: '";
    text += message;
    text += "' (";
    text += unit;
    text += ", line: ";
    text += std::to_string(line);
    text += ")";
    return text;
}

void AssertionFailed(std::string_view message, std::string_view unit, int line) {
    std::string text = AssertionText(message, unit, line);
    TLog::DebugOutput(text);
    throw EAssertionFailed(std::move(text));
}

void LogAbandoned(const EAssertionFailed& failure) {
    TLog::Line(failure.Message() + " - operation abandoned");
}

} // namespace kiv
