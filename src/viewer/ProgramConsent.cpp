#include "viewer/ProgramConsent.h"

#include "base/Clock.h"
#include "base/Log.h"

namespace kiv {

TProgramConsent::TProgramConsent(TProgramPolicy policy, TAsk ask, TClock clock)
    : policy_(policy), ask_(std::move(ask)), clock_(clock ? std::move(clock) : TClock(ProcessMilliseconds)) {}

bool TProgramConsent::MayStart(const TProgramStart& start) {
    const auto refuse = [&start](const std::string& why) {
        TLog::Line("Program not started (" + why + "): " + start.CommandLine());
        return false;
    };
    if (policy_ == TProgramPolicy::RefuseAll) return refuse("programs are off");

    // The limit comes first: a show over it gets no question either.
    const std::int64_t now = clock_();
    while (!recentStarts_.empty() && now - recentStarts_.front() >= kRateWindowMs)
        recentStarts_.pop_front();
    if (static_cast<int>(recentStarts_.size()) >= kStartsPerSecond)
        return refuse("more than " + std::to_string(kStartsPerSecond) + " programs a second");

    if (policy_ == TProgramPolicy::Ask) {
        auto answer = answers_.find(show_);
        if (answer == answers_.end()) {
            const bool run = ask_ && ask_(start);
            TLog::Line(std::string("Programs of the show ") + (run ? "allowed" : "refused") + " by the user: " +
                       show_);
            answer = answers_.emplace(show_, run).first;
        }
        if (!answer->second) return refuse("the user said not to run the show's programs");
    }
    // The time of the start, after any question: the time spent answering is not a start.
    recentStarts_.push_back(clock_());
    return true;
}

int TProgramConsent::Answer(const std::string& show) const {
    const auto answer = answers_.find(show);
    return answer == answers_.end() ? -1 : (answer->second ? 1 : 0);
}

} // namespace kiv
