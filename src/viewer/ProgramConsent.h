// TProgramConsent: whether a show may start a program. By default the user is asked once per
// show, naming the program and its arguments exactly as they would run; the answer holds for that
// show until the player ends. "-allowprograms" allows every start without asking (kiosks),
// "-noprograms" refuses every start without asking. Whatever was answered, starts are limited to
// a few a second, so that a show of very short slides cannot start programs without end.
//
// The runner asks MayStart just before it would start (TProgramRunner::TOptions::mayStart).
// Main thread only.
#pragma once

#include "viewer/ProgramRunner.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

namespace kiv {

enum class TProgramPolicy { Ask, AllowAll, RefuseAll };

class TProgramConsent {
public:
    // At most this many starts within any second.
    static constexpr int kStartsPerSecond = 3;
    static constexpr std::int64_t kRateWindowMs = 1000;

    // The question to the user: true to run. Runs modally on the main thread.
    using TAsk = std::function<bool(const TProgramStart& start)>;
    // Milliseconds of a monotonic clock (the process clock by default).
    using TClock = std::function<std::int64_t()>;

    TProgramConsent(TProgramPolicy policy, TAsk ask, TClock clock = {});

    TProgramPolicy Policy() const { return policy_; }
    // The show that starts programs from now on (its path); answers are kept per show.
    void SetShow(const std::string& show) { show_ = show; }
    const std::string& Show() const { return show_; }

    // True when `start` may run now. Every refusal is logged with the command line.
    bool MayStart(const TProgramStart& start);

    // What the user answered for `show` so far: 1 run, 0 don't run, -1 not asked yet.
    int Answer(const std::string& show) const;

private:
    TProgramPolicy policy_;
    TAsk ask_;
    TClock clock_;
    std::string show_;
    std::map<std::string, bool> answers_;
    std::deque<std::int64_t> recentStarts_;
};

} // namespace kiv
