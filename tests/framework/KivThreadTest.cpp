#include "framework/KivThread.h"

#include "base/Assert.h"
#include "base/Exception.h"
#include "support/LogCapture.h"

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
    TEvent blocked{TEvent::TReset::Manual}; // set by a step that blocks
    TEvent release{TEvent::TReset::Manual}; // lets a blocked step go on
    TEvent* destroyed = nullptr;
    std::int64_t destroyWait = kDestroyWaitMs;

protected:
    ~TWorker() override {
        if (destroyed) destroyed->Set();
    }
    void OnStart() override { started = true; }
    void OnStop() override {
        stopped = true;
        TKivThread::OnStop();
    }
    void Step() override {
        Queue().ProcessAll();
        ++steps;
        if (blockInStep) {
            blocked.Set();
            release.WaitFor();
        }
        std::this_thread::yield();
    }
    bool HandleEvent(int code, TRefObject*) override {
        handled.push_back(code);
        if (code == 99) throw std::runtime_error("step failed");
        if (code == 98) KIV_FAIL("worker check");
        if (code == 97) Queue().Send(1, nullptr); // to itself: would wait forever
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
    worker->blocked.WaitFor(); // blocked in a step, past its ProcessAll
    std::thread sender([&] { worker->Queue().Send(5, nullptr); });
    while (worker->Queue().Count() == 0) std::this_thread::yield();
    worker->Terminate(); // closes the queue before setting Terminated
    sender.join();
    worker->release.Set();
    worker->Stop();
    EXPECT_TRUE(worker->handled.empty());
}

TEST(KivThread, AnExceptionFromStepEndsTheThread) {
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    worker->Start();
    worker->Queue().Post(99, nullptr);
    EXPECT_TRUE(worker->WaitFor());
    EXPECT_FALSE(worker->stopped) << "OnStop does not run after a failed step";
}

TEST(KivThread, AFailedAssertionAbandonsOnlyThePassAndIsLoggedOnce) {
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    const std::string log = test::LoggedWhile([&] {
        worker->Start();
        worker->Queue().Post(98, nullptr);
        worker->Queue().Post(98, nullptr); // the same failure on the next pass
        worker->Queue().Send(3, nullptr);  // handled: the thread went on
        EXPECT_TRUE(worker->Running());
        worker->Stop();
    });
    EXPECT_EQ(worker->handled, (std::vector<int>{98, 98, 3}));
    EXPECT_TRUE(worker->stopped) << "the thread ended normally";
    const std::string text = "Asseertion with message: 'worker check' (KivThreadTest.cpp, line: ";
    const auto first = log.find(text);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(text, first + 1), std::string::npos) << "a repeated failure is logged once\n" << log;
}

TEST(KivThread, SendingToItsOwnQueueIsAnAssertionInsteadOfADeadlock) {
#if !defined(KIV_DEBUG_CHECKS)
    GTEST_SKIP() << "thread checks are off in this build";
#endif
    auto worker = TRef<TWorker>::Adopt(new TWorker);
    const std::string log = test::LoggedWhile([&] {
        worker->Start();
        worker->Queue().Post(97, nullptr);
        worker->Queue().Send(2, nullptr); // returns only when the worker survived its own Send
        worker->Stop();
    });
    EXPECT_EQ(worker->handled, (std::vector<int>{97, 2}));
    EXPECT_NE(log.find("Blocking call on the thread that must answer it"), std::string::npos) << log;
}

TEST(KivThread, AStepThatNeverReturnsIsDetachedAfterTheWait) {
    TEvent destroyed(TEvent::TReset::Manual);
    auto* worker = new TWorker;
    worker->destroyed = &destroyed;
    worker->destroyWait = 100; // the player waits 3000 ms
    worker->blockInStep = true;
    worker->Start();
    worker->blocked.WaitFor(); // inside the step that blocks
    TEvent& release = worker->release;
    worker->Release(); // must come back instead of hanging
    EXPECT_FALSE(destroyed.IsSet());
    release.Set(); // the detached thread ends and frees its object
    EXPECT_TRUE(destroyed.WaitFor()) << "the thread deleted its object when it ended";
}

} // namespace
} // namespace kiv
