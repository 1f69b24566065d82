// A slide timeline made by hand for navigation tests: synchronisation points and transition times
// per slide, with the record rules of the show project (cut transitions, later passes of a
// repeating show, the slides before the show).
#pragma once

#include "viewer/SlideNavigation.h"

#include <algorithm>
#include <string>
#include <vector>

namespace kiv::testing {

class THandTimeline : public TSlideTimes {
public:
    THandTimeline(std::vector<double> syncs, std::vector<double> transitions, bool repeats,
                  std::vector<std::string> ids = {})
        : syncs_(std::move(syncs)), transitions_(std::move(transitions)), ids_(std::move(ids)),
          repeats_(repeats) {
        ids_.resize(syncs_.size());
    }

    int Count() const override { return static_cast<int>(syncs_.size()); }
    bool Repeats() const override { return repeats_; }
    double Period() const { return syncs_.empty() ? 0 : syncs_.back(); }

    TSlideInfo SlideTimes(int index) const override {
        const int n = Count();
        if (index == -1) return {.start = -1073741823.0, .sync = 0};
        if (index <= -2) return {.start = -2147483647.0, .sync = -1073741823.0};
        const int loop = index / n;
        const int j = index % n;
        TSlideInfo record;
        record.start = j == 0 ? 0 : syncs_[j - 1];
        record.sync = syncs_[j];
        record.transition = std::min(transitions_[j], record.sync - record.start);
        if (loop * Period() > 0) {
            record.start += loop * Period();
            record.sync += loop * Period();
        }
        return record;
    }

    int FindSlideAt(double t) const override {
        // Bounded for a show whose slides all have zero length.
        for (int index = -1; index < 1000000; ++index) {
            const TSlideInfo record = SlideTimes(index);
            if (record.start <= t && t <= record.sync) return index;
            if (record.start > t) return index;
        }
        return -1;
    }

    std::string SlideId(int index) const override { return ids_.at(static_cast<std::size_t>(index)); }

private:
    std::vector<double> syncs_;
    std::vector<double> transitions_;
    std::vector<std::string> ids_;
    bool repeats_;
};

} // namespace kiv::testing
