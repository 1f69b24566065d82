#include "base/Assert.h"
#include "base/Log.h"
#include "base/Sync.h"
#include "base/Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <thread>
#include <unistd.h>

namespace kiv {
namespace {

TEST(Event, ManualResetWakesEveryWaiterUntilReset) {
    TEvent event(TEvent::TReset::Manual);
    EXPECT_FALSE(event.WaitFor(0));
    std::atomic<int> woken{0};
    std::thread a([&] { woken += event.WaitFor(); });
    std::thread b([&] { woken += event.WaitFor(); });
    event.Set();
    a.join();
    b.join();
    EXPECT_EQ(woken, 2);
    EXPECT_TRUE(event.WaitFor(0)) << "stays set";
    event.Reset();
    EXPECT_FALSE(event.WaitFor(0));
}

TEST(Event, AutoResetIsConsumedByOneWait) {
    TEvent event(TEvent::TReset::Auto);
    event.Set();
    EXPECT_TRUE(event.WaitFor(0));
    EXPECT_FALSE(event.WaitFor(0)) << "the first wait reset it";
    EXPECT_FALSE(event.WaitFor(20)) << "a time-out reports false";
}

TEST(CriticalSection, IsReentrant) {
    TSafeCriticalSection lock;
    lock.Enter();
    EXPECT_TRUE(lock.TryEnter());
    lock.Leave();
    lock.Leave();
    std::thread other([&] {
        TLockGuard guard(lock);
    });
    other.join();
}

// A thread whose body is given by the test.
class TLambdaThread : public TThread {
public:
    explicit TLambdaThread(std::function<void(TLambdaThread&)> body,
                           std::int64_t destroyWaitMs = kDestroyWaitMs, TEvent* destroyed = nullptr)
        : body_(std::move(body)), destroyWaitMs_(destroyWaitMs), destroyed_(destroyed) {}

protected:
    ~TLambdaThread() override {
        if (destroyed_) destroyed_->Set();
    }
    void Execute() override { body_(*this); }
    std::int64_t DestroyWaitMs() const override { return destroyWaitMs_; }

private:
    std::function<void(TLambdaThread&)> body_;
    std::int64_t destroyWaitMs_;
    TEvent* destroyed_;
};

TEST(Thread, DoesNotStartUntilAskedAndStartsOnce) {
    std::atomic<int> runs{0};
    auto thread = TRef<TLambdaThread>::Adopt(new TLambdaThread([&](TLambdaThread&) { ++runs; }));
    EXPECT_FALSE(thread->Started());
    EXPECT_TRUE(thread->WaitFor(0)) << "a thread never started counts as ended";
    EXPECT_TRUE(thread->Start());
    EXPECT_FALSE(thread->Start());
    EXPECT_TRUE(thread->WaitFor());
    EXPECT_TRUE(thread->Finished());
    EXPECT_EQ(runs, 1);
}

TEST(Thread, DestructionTerminatesAndWaitsForTheBody) {
    std::atomic<bool> sawTerminated{false};
    auto* thread = new TLambdaThread([&](TLambdaThread& self) {
        while (!self.Terminated())
            std::this_thread::yield();
        sawTerminated = true;
    });
    thread->Start();
    thread->Release();
    EXPECT_TRUE(sawTerminated) << "the body ended before the object went";
}

TEST(Thread, AnEscapingExceptionEndsTheThreadAndIsLogged) {
    const std::string path = testing::TempDir() + "kiv_thread_log_" + std::to_string(::getpid()) + ".log";
    TLog::Start(TLogMode::File, "test", path);
    auto thread = TRef<TLambdaThread>::Adopt(
        new TLambdaThread([](TLambdaThread&) { throw std::runtime_error("decoder broke"); }));
    thread->Start();
    EXPECT_TRUE(thread->WaitFor());
    TLog::Finish();
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    const auto at = text.find("Thread Exception at: ");
    ASSERT_NE(at, std::string::npos) << text;
    const std::string address = text.substr(at + 21, 8);
    EXPECT_EQ(address.find_first_not_of("0123456789ABCDEF"), std::string::npos) << address;
    EXPECT_EQ(text.substr(at + 29, 2), "\r\n");
    EXPECT_NE(text.find("decoder broke"), std::string::npos);
}

TEST(Thread, AnEscapingAssertionIsLoggedWithItsText) {
    const std::string path = testing::TempDir() + "kiv_thread_assert_" + std::to_string(::getpid()) + ".log";
    TLog::Start(TLogMode::File, "test", path);
    auto thread =
        TRef<TLambdaThread>::Adopt(new TLambdaThread([](TLambdaThread&) { KIV_FAIL("thread check"); }));
    thread->Start();
    EXPECT_TRUE(thread->WaitFor());
    TLog::Finish();
    std::ifstream in(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::filesystem::remove(path);
    EXPECT_NE(text.find("Thread Exception at: "), std::string::npos) << text;
    EXPECT_NE(text.find("Asseertion with message: 'thread check' (SyncThreadTest.cpp, line: "),
              std::string::npos)
        << text;
}

TEST(Thread, OneThatDoesNotEndIsDetachedAndFreesItselfWhenItEnds) {
    TEvent release(TEvent::TReset::Manual);
    TEvent destroyed(TEvent::TReset::Manual);
    auto* thread = new TLambdaThread(
        [&](TLambdaThread&) { release.WaitFor(); }, /*destroyWaitMs=*/50, &destroyed);
    thread->Start();
    thread->Release(); // returns after the shortened wait instead of hanging
    EXPECT_FALSE(destroyed.IsSet()) << "the object stays alive while its thread runs";
    release.Set();
    EXPECT_TRUE(destroyed.WaitFor()) << "the thread deleted its object when it ended";
}

TEST(Thread, ReleasingItselfOnItsOwnThreadIsSafe) {
    TEvent destroyed(TEvent::TReset::Manual);
    TEvent go(TEvent::TReset::Manual);
    auto* thread = new TLambdaThread([&](TLambdaThread& self) {
        go.WaitFor();
        self.Release(); // the last reference goes on the thread itself
    }, TThread::kDestroyWaitMs, &destroyed);
    thread->Start();
    go.Set();
    EXPECT_TRUE(destroyed.WaitFor());
}

} // namespace
} // namespace kiv
