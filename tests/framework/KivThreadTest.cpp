#include "framework/KivThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kiv {
namespace {

// A worker that records the messages it handles and counts its passes.
class TWorker : public TKivThread {
public:
    std::vector<int> handled;
    std::atomic<int> steps{0};
    std::atomic<bool> started{false};
    std::atomic<bool> stopped{false};
    std::atomic<bool> blockInStep{false};
    std::atomic<bool>* destroyed = nullptr;
    std::int64_t destroyWait = kDestroyWaitMs;

protected:
    ~TWorker() override {
        if (destroyed) *destroyed = true;
    }
    void OnStart() override { started = true; }
    void OnStop() override {
        stopped = true;
        TKivThread::OnStop();
    }
    void Step() override {
        Queue().ProcessAll();
        ++steps;
        while (blockInStep) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::yield();
    }
    bool HandleEvent(int code, TRefObject*) override {
        handled.push_back(code);
        if (code == 99) throw std::runtime_error("step failed");
        return true;
    }
    std::int64_t DestroyWaitMs() const override { return destroyWait; }
};

TEST(KivThread, CreatingDoesNotStartAndStartSetsRunning) {
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    EXPECT_FALSE(worker->Running());
    EXPECT_EQ(worker->steps, 0);
    EXPECT_TRUE(worker->Start());
    EXPECT_TRUE(worker->Running());
    worker->Stop();
    EXPECT_TRUE(worker->started);
    EXPECT_TRUE(worker->stopped);
    EXPECT_FALSE(worker->Running()) << "OnStop clears running";
}

TEST(KivThread, HandlesSentMessagesOnItsOwnThreadInOrder) {
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    worker->Start();
    worker->Queue().Post(1, nullptr);
    worker->Queue().Post(2, nullptr);
    worker->Queue().Send(3, nullptr); // returns once 3 (and so 1 and 2) were handled
    EXPECT_EQ(worker->handled, (std::vector<int>{1, 2, 3}));
    worker->Stop();
}

TEST(KivThread, TerminateReleasesASenderThatWouldWaitForever) {
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    worker->blockInStep = true;
    worker->Start();
    while (worker->steps == 0) std::this_thread::yield(); // blocked in a step, past its ProcessAll
    std::thread sender([&] { worker->Queue().Send(5, nullptr); });
    while (worker->Queue().Count() == 0) std::this_thread::yield();
    worker->Terminate(); // closes the queue before setting Terminated
    sender.join();
    worker->blockInStep = false;
    worker->Stop();
    EXPECT_TRUE(worker->handled.empty());
}

TEST(KivThread, AnExceptionFromStepEndsTheThread) {
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    worker->Start();
    worker->Queue().Post(99, nullptr);
    EXPECT_TRUE(worker->WaitFor(5000));
    EXPECT_FALSE(worker->stopped) << "OnStop does not run after a failed step";
}

TEST(KivThread, AStepThatNeverReturnsIsDetachedAfterTheWait) {
    std::atomic<bool> destroyed{false};
    auto* worker = new TWorker;
    worker->destroyed = &destroyed;
    worker->destroyWait = 100; // the player waits 3000 ms
    worker->blockInStep = true;
    worker->Start();
    while (worker->steps == 0) std::this_thread::yield(); // inside the step that blocks
    worker->Release(); // must come back instead of hanging
    EXPECT_FALSE(destroyed);
    worker->blockInStep = false; // the detached thread ends and frees its object
    for (int i = 0; i < 5000 && !destroyed; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(destroyed);
}

} // namespace
} // namespace kiv
