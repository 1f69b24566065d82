// The shared time of a loaded show: the engine writes the current show time every frame (and the
// time its clock asked for before barrier handling); the slide loader, its producer and the built
// slides read it. Reference counted; the reads and writes are atomic, so any thread may use it.
#pragma once

#include "base/RefObject.h"

#include <atomic>

namespace kiv {

class ITiming {
public:
    virtual double GetTime() const = 0;

protected:
    ~ITiming() = default;
};

class TTiming final : public TRefObject, public ITiming {
public:
    double GetTime() const override { return current_.load(); }
    void SetTime(double timeMs) { current_.store(timeMs); }
    double RequestedTime() const { return requested_.load(); }
    void SetRequestedTime(double timeMs) { requested_.store(timeMs); }

protected:
    ~TTiming() override = default;

private:
    std::atomic<double> current_{0};
    std::atomic<double> requested_{0};
};

} // namespace kiv
