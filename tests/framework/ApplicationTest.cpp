#include "base/Assert.h"
#include "base/Exception.h"
#include "base/Process.h"
#include "framework/Application.h"
#include "support/LogCapture.h"
#include "support/Tracked.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using test::TTracked;

// Handlers of the tests record what arrived and on which thread.
struct TReceiver {
    std::vector<int> values;
    std::vector<std::thread::id> threads;
    std::function<void(int value)> then = {};
    void OnEvent(TRefObject*, int, TRefObject* data) {
        const int value = data ? static_cast<TTracked*>(data)->value : -1;
        values.push_back(value);
        threads.push_back(std::this_thread::get_id());
        if (then) then(value);
    }
    TEventHandler Handler() { return MakeEventHandler<&TReceiver::OnEvent>(this); }
};

class ApplicationTest : public testing::Test {
protected:
    void SetUp() override {
        app = new TZkApplication;
        app->Prepare();
        event = TCustomEventList::NewEventNumber();
        app->Subscribe(event, receiver.Handler());
    }
    void TearDown() override {
        if (!app->Finalised()) app->Finalise();
        app->Release();
    }

    TZkApplication* app = nullptr;
    int event = 0;
    TReceiver receiver;
    std::atomic<int> destroyed{0};
};

TEST_F(ApplicationTest, PostsFromAWorkerArriveOnTheMainThreadInOrder) {
    receiver.then = [&](int value) {
        if (value == 3) app->Terminate();
    };
    std::thread worker([&] {
        for (int i = 1; i <= 3; ++i) app->Post(event, new TTracked(destroyed, i));
    });
    app->Run();
    worker.join();
    EXPECT_EQ(receiver.values, (std::vector<int>{1, 2, 3}));
    for (auto id : receiver.threads) EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_EQ(destroyed, 3) << "posted data is freed after delivery";
}

TEST_F(ApplicationTest, SendFromAWorkerReturnsAfterTheHandlerRanAndLeavesTheDataToTheCaller) {
    std::atomic<bool> handledBeforeReturn{false};
    std::thread worker([&] {
        auto* data = new TTracked(destroyed, 7);
        app->Send(event, data);
        handledBeforeReturn = receiver.values.size() == 1;
        EXPECT_EQ(destroyed, 0) << "the sender keeps its data";
        data->Release();
        app->Terminate();
    });
    app->Run();
    worker.join();
    EXPECT_TRUE(handledBeforeReturn);
    EXPECT_EQ(receiver.values, (std::vector<int>{7}));
    EXPECT_EQ(destroyed, 1);
}

TEST_F(ApplicationTest, SendOnTheMainThreadRunsAtOnce) {
    auto* data = new TTracked(destroyed, 4);
    app->Send(event, data);
    EXPECT_EQ(receiver.values, (std::vector<int>{4}));
    EXPECT_EQ(destroyed, 0);
    data->Release();
}

TEST_F(ApplicationTest, APostAfterShutdownFreesItsDataAndDeliversNothing) {
    app->Terminate();
    app->Run();
    ASSERT_TRUE(app->Finalised());
    app->Post(event, new TTracked(destroyed, 1));
    EXPECT_EQ(destroyed, 1);
    app->Send(event, nullptr); // returns at once
    EXPECT_TRUE(receiver.values.empty());
}

TEST_F(ApplicationTest, FiresEventZeroWhenTheLoopEnds) {
    TReceiver ended;
    app->Subscribe(0, ended.Handler());
    app->Terminate();
    app->Run();
    EXPECT_EQ(ended.values.size(), 1u);
}

TEST_F(ApplicationTest, AHandlerExceptionDoesNotEndTheLoop) {
    receiver.then = [&](int value) {
        if (value == 1) throw Exception("handler failed");
        app->Terminate();
    };
    app->Post(event, new TTracked(destroyed, 1));
    app->Post(event, new TTracked(destroyed, 2));
    app->Run();
    EXPECT_EQ(receiver.values, (std::vector<int>{1, 2}));
    EXPECT_EQ(destroyed, 2) << "the failed item was released too";
}

TEST_F(ApplicationTest, AFailedAssertionInAHandlerIsLoggedAndTheLoopGoesOn) {
    receiver.then = [&](int value) {
        if (value == 1) KIV_FAIL("handler check");
        app->Terminate();
    };
    app->Post(event, new TTracked(destroyed, 1));
    app->Post(event, new TTracked(destroyed, 2));
    const std::string log = test::LoggedWhile([&] { app->Run(); });
    EXPECT_EQ(receiver.values, (std::vector<int>{1, 2}));
    EXPECT_EQ(destroyed, 2) << "the abandoned item was released too";
    EXPECT_NE(log.find("Asseertion with message: 'handler check' (ApplicationTest.cpp, line: "),
              std::string::npos)
        << log;
}

TEST_F(ApplicationTest, AFailingHandlerDuringTheShutdownDrainDoesNotStopTheShutdown) {
    receiver.then = [&](int value) {
        if (value == 1) KIV_FAIL("drain check");
        if (value == 2) throw Exception("drain failure");
    };
    app->Post(event, new TTracked(destroyed, 1));
    app->Post(event, new TTracked(destroyed, 2));
    app->Post(event, new TTracked(destroyed, 3));
    const std::string log = test::LoggedWhile([&] { app->Finalise(); });
    EXPECT_TRUE(app->Finalised());
    EXPECT_EQ(receiver.values, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(destroyed, 3);
    EXPECT_NE(log.find("'drain check'"), std::string::npos) << log;
    EXPECT_NE(log.find("drain failure"), std::string::npos) << log;
}

TEST_F(ApplicationTest, TheLoopRunsOnlyOnTheMainThread) {
#if !defined(KIV_DEBUG_CHECKS)
    GTEST_SKIP() << "thread checks are off in this build";
#endif
    int asserted = 0;
    std::thread other([&] {
        try {
            app->Run();
        } catch (const EAssertionFailed&) {
            ++asserted;
        }
        try {
            app->ProcessPending();
        } catch (const EAssertionFailed&) {
            ++asserted;
        }
    });
    other.join();
    EXPECT_EQ(asserted, 2);
    EXPECT_FALSE(app->Finalised()) << "nothing ran";
}

TEST_F(ApplicationTest, ShutdownDeliversQueuedItemsUntilTheLastWorkerUnregisters) {
    const int worker = 1;
    app->RegisterWorker(&worker);
    TEvent loopEnded(TEvent::TReset::Manual);
    TReceiver ended;
    ended.then = [&](int) { loopEnded.Set(); };
    app->Subscribe(0, ended.Handler());
    std::thread thread([&] {
        loopEnded.WaitFor();
        // The main thread is draining now: this post is still delivered.
        app->Post(event, new TTracked(destroyed, 9));
        app->UnregisterWorker(&worker);
    });
    app->Terminate();
    app->Run();
    thread.join();
    EXPECT_EQ(receiver.values, (std::vector<int>{9}));
    EXPECT_EQ(app->WorkerCount(), 0u);
}

TEST_F(ApplicationTest, UnregisteringAnUnknownWorkerIsAnAssertion) {
    const int a = 0, b = 0;
    EXPECT_THROW(app->UnregisterWorker(&a), EAssertionFailed);
    app->RegisterWorker(&a);
    EXPECT_THROW(app->UnregisterWorker(&b), EAssertionFailed);
    app->UnregisterWorker(&a);
}

TEST_F(ApplicationTest, ASecondApplicationObjectIsAnAssertion) {
    EXPECT_EQ(TApplication::Instance(), app);
    EXPECT_THROW(new TZkApplication, EAssertionFailed);
    EXPECT_EQ(TApplication::Instance(), app);
}

TEST_F(ApplicationTest, KeepsItsCaption) {
    app->SetCaption("My show");
    EXPECT_EQ(app->Caption(), "My show");
}

TEST(ApplicationLifetime, DestroyingWithoutFinalisingReportsTheAssertion) {
    testing::internal::CaptureStderr();
    auto* app = new TZkApplication;
    app->Release();
    const std::string output = testing::internal::GetCapturedStderr();
    EXPECT_NE(output.find("Asseertion with message: 'Application MUST be finalesed before destroy!'"), std::string::npos)
        << output;
    EXPECT_EQ(TApplication::Instance(), nullptr);
}

TEST(ApplicationShutdown, AWorkerThatNeverUnregistersEndsTheProcessAtTheLimit) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto* app = new TZkApplication;
            app->Prepare();
            // A clock that jumps a second per reading: the 30-second limit passes after about 30
            // polls of at most 100 ms each instead of 30 real seconds.
            std::int64_t now = 0;
            app->SetShutdownClock([&] { return now += 1000; }, TWinApplication::kShutdownLimitMs);
            static const int worker = 0;
            app->RegisterWorker(&worker);
            SetProcessExitCode(3);
            app->Terminate();
            app->Run();
            std::exit(0); // not reached
        },
        testing::ExitedWithCode(3), "Workers still registered");
}

TEST(PrivateMessages, NumbersCountUpFromAbove5120) {
    const int first = NewPrivateMessageNumber();
    EXPECT_GT(first, 5120);
    EXPECT_EQ(NewPrivateMessageNumber(), first + 1);
}

} // namespace
} // namespace kiv
