// The chunk callback of partial streams (code + data) and the process-wide load callback that
// package entry streams call after every chunk, so that long reads can yield the processor.
// File access installs the real load callback (its yield modes); until then it does nothing.
#pragma once

namespace kiv {

// A callback as code plus data. The result tells whether the caller may go on; partial streams
// ignore it. An empty callback does nothing.
struct TLoadCallback {
    bool (*code)(void* data) = nullptr;
    void* data = nullptr;

    explicit operator bool() const { return code != nullptr; }
    bool operator()() const { return code ? code(data) : true; }
};

// Installs the process-wide load callback (any thread; usually once at start-up). A null `hook`
// restores the one that does nothing.
void SetProcessLoadHook(bool (*hook)());

// Calls the installed process-wide load callback; true when the caller may go on.
bool CallProcessLoadHook();

// The process-wide load callback as a partial-stream callback.
TLoadCallback ProcessLoadCallback();

} // namespace kiv
