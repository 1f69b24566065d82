// A reference-counted object that tells the test when it is destroyed.
#pragma once

#include "base/RefObject.h"

#include <atomic>

namespace kiv::test {

class TTracked : public TRefObject {
public:
    explicit TTracked(std::atomic<int>& destroyed, int value = 0) : value(value), destroyed_(destroyed) {}
    const int value;

protected:
    ~TTracked() override { ++destroyed_; }

private:
    std::atomic<int>& destroyed_;
};

} // namespace kiv::test
