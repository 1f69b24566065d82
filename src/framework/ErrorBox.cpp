#include "framework/ErrorBox.h"

#include "base/Log.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kiv {

namespace {

TErrorBoxSink& Sink() {
    static TErrorBoxSink sink;
    return sink;
}

std::string WithLineEnds(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            result += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            result += text[i];
        }
    }
    return result;
}

bool EnvironmentSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

std::string ConsoleErrorText(std::string_view caption, std::string_view text) {
    std::string result(caption);
    result += ": ";
    result += WithLineEnds(text);
    result += '\n';
    return result;
}

bool MessageBoxDisplayAvailable() {
    if (const char* driver = std::getenv("SDL_VIDEODRIVER")) {
        if (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0) return false;
    }
    return EnvironmentSet("DISPLAY") || EnvironmentSet("WAYLAND_DISPLAY");
}

void SetErrorBoxSink(TErrorBoxSink sink) {
    Sink() = std::move(sink);
}

void ShowErrorBox(std::string_view text, std::string_view caption) {
    TLog::Line("Message box: " + std::string(caption) + ": " + WithLineEnds(text));
    if (Sink()) {
        Sink()(caption, text);
        return;
    }
    if (MessageBoxDisplayAvailable()) {
        const std::string title(caption);
        const std::string message = WithLineEnds(text);
        // SDL shows simple message boxes without an initialised video subsystem; a failure (no
        // usable display after all) falls back to the console.
        if (SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_WARNING, title.c_str(), message.c_str(), nullptr) == 0)
            return;
    }
    const std::string console = ConsoleErrorText(caption, text);
    std::fputs(console.c_str(), stderr);
    std::fflush(stderr);
}

} // namespace kiv
