#include "framework/ThreadEventList.h"

#include "base/Exception.h"
#include "support/Tracked.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using test::TTracked;

class ThreadEventListTest : public testing::Test {
protected:
    void TearDown() override { queue->Release(); }
    std::vector<int> handled;
    std::atomic<int> destroyed{0};
    bool claim = true;
    TThreadEventList* queue = new TThreadEventList([this](int code, TRefObject*) {
        handled.push_back(code);
        return claim;
    });
};

TEST_F(ThreadEventListTest, HandlesPostsInTheOrderTheyWerePosted) {
    queue->Post(1, nullptr);
    queue->Post(2, new TTracked(destroyed));
    queue->Post(3, nullptr);
    EXPECT_EQ(queue->ProcessAll(), 3);
    EXPECT_EQ(handled, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(destroyed, 1) << "posted data is freed once handled";
    EXPECT_EQ(queue->ProcessAll(), 0);
}

TEST_F(ThreadEventListTest, PassesUnclaimedMessagesToSubscribers) {
    struct TSubscriber {
        int calls = 0;
        void OnEvent(TRefObject*, int, TRefObject*) { ++calls; }
    } subscriber;
    queue->Subscribe(42, MakeEventHandler<&TSubscriber::OnEvent>(&subscriber));
    queue->Post(42, nullptr);
    queue->ProcessAll();
    EXPECT_EQ(subscriber.calls, 0) << "the owner claimed it";
    claim = false;
    queue->Post(42, nullptr);
    queue->ProcessAll();
    EXPECT_EQ(subscriber.calls, 1);
}

TEST_F(ThreadEventListTest, APostToAClosedQueueFreesItsDataAtOnce) {
    queue->Post(1, new TTracked(destroyed));
    queue->Close();
    EXPECT_TRUE(queue->IsClosed());
    EXPECT_EQ(destroyed, 1) << "closing discards queued data";
    queue->Post(2, new TTracked(destroyed));
    EXPECT_EQ(destroyed, 2);
    EXPECT_EQ(queue->ProcessAll(), 0);
    EXPECT_TRUE(handled.empty());
}

TEST_F(ThreadEventListTest, SendToAClosedQueueReturnsAtOnce) {
    queue->Close();
    queue->Send(5, nullptr); // would block forever if it queued
    EXPECT_TRUE(handled.empty());
}

TEST_F(ThreadEventListTest, SendBlocksUntilTheOwnerProcessedTheMessage) {
    std::atomic<bool> returned{false};
    std::atomic<int> destroyedBySender{0};
    auto* data = new TTracked(destroyedBySender);
    std::thread sender([&] {
        queue->Send(8, data);
        returned = true;
    });
    while (queue->Count() == 0) std::this_thread::yield();
    EXPECT_FALSE(returned);
    EXPECT_EQ(queue->ProcessAll(), 1);
    sender.join();
    EXPECT_TRUE(returned);
    EXPECT_EQ(handled, (std::vector<int>{8}));
    EXPECT_EQ(destroyedBySender, 0) << "the sender keeps its data";
    data->Release();
}

TEST_F(ThreadEventListTest, ASendPendingWhileTheQueueClosesReturnsUnhandled) {
    std::thread sender([&] { queue->Send(8, nullptr); });
    while (queue->Count() == 0) std::this_thread::yield();
    queue->Close();
    sender.join();
    EXPECT_TRUE(handled.empty());
}

TEST_F(ThreadEventListTest, AHandlerExceptionStillReleasesTheSender) {
    auto* throwing = new TThreadEventList([](int, TRefObject*) -> bool { throw std::runtime_error("bad"); });
    std::thread sender([&] { throwing->Send(1, nullptr); });
    while (throwing->Count() == 0) std::this_thread::yield();
    EXPECT_THROW(throwing->ProcessAll(), std::runtime_error);
    sender.join();
    throwing->Release();
}

TEST_F(ThreadEventListTest, ProcessingOffTheOwningThreadIsAnAssertionAndLeavesTheMessages) {
#if !defined(KIV_DEBUG_CHECKS)
    GTEST_SKIP() << "thread checks are off in this build";
#endif
    queue->Post(1, nullptr);
    queue->ProcessAll(); // the first thread to process becomes the owner
    EXPECT_EQ(queue->OwnerThread(), std::this_thread::get_id());
    queue->Post(2, nullptr);
    bool asserted = false;
    std::thread intruder([&] {
        try {
            queue->ProcessAll();
        } catch (const EAssertionFailed&) {
            asserted = true;
        }
    });
    intruder.join();
    EXPECT_TRUE(asserted);
    EXPECT_EQ(handled, (std::vector<int>{1}));
    EXPECT_EQ(queue->Count(), 1u) << "the message waits for its owner";
    EXPECT_EQ(queue->ProcessAll(), 1);
}

TEST_F(ThreadEventListTest, SendOnTheOwningThreadIsAnAssertionInsteadOfADeadlock) {
#if !defined(KIV_DEBUG_CHECKS)
    GTEST_SKIP() << "thread checks are off in this build";
#endif
    queue->SetOwnerThread(std::this_thread::get_id());
    EXPECT_THROW(queue->Send(3, nullptr), EAssertionFailed);
    EXPECT_EQ(queue->Count(), 0u) << "nothing was queued";
    queue->Post(4, nullptr); // posting from the owner is fine
    EXPECT_EQ(queue->ProcessAll(), 1);
    EXPECT_EQ(handled, (std::vector<int>{4}));
}

} // namespace
} // namespace kiv
