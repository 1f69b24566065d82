#include "framework/EventList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kiv {
namespace {

// Records the calls it receives; handlers of one recorder differ by their tag.
struct TRecorder {
    std::vector<std::string>& calls;
    std::string tag;
    std::function<void()> action = {};
    void OnEvent(TRefObject*, int event, TRefObject*) {
        calls.push_back(tag + ":" + std::to_string(event));
        if (action) action();
    }
    TEventHandler Handler() { return MakeEventHandler<&TRecorder::OnEvent>(this); }
};

class EventListTest : public testing::Test {
protected:
    void TearDown() override { list->Release(); }
    TEventList* list = new TEventList(16);
    std::vector<std::string> calls;
};

TEST_F(EventListTest, RunsHandlersInTheOrderTheyWereSubscribed) {
    TRecorder a{calls, "a"}, b{calls, "b"}, c{calls, "c"};
    list->Subscribe(5, a.Handler());
    list->Subscribe(5, b.Handler());
    list->Subscribe(5, c.Handler());
    list->Fire(nullptr, 5, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:5", "b:5", "c:5"}));
}

TEST_F(EventListTest, OnlyHandlersOfTheExactNumberRunInASharedBucket) {
    TRecorder a{calls, "a"}, b{calls, "b"};
    list->Subscribe(3, a.Handler());
    list->Subscribe(3 + 16, b.Handler()); // same bucket of 16
    list->Fire(nullptr, 19, nullptr);
    list->Fire(nullptr, 35, nullptr); // same bucket, nobody subscribed
    EXPECT_EQ(calls, (std::vector<std::string>{"b:19"}));
}

TEST_F(EventListTest, AHandlerThatUnsubscribesALaterOneStopsItInTheSameFire) {
    TRecorder b{calls, "b"};
    TRecorder a{calls, "a", [&] { list->Unsubscribe(7, b.Handler()); }};
    list->Subscribe(7, a.Handler());
    list->Subscribe(7, b.Handler());
    list->Fire(nullptr, 7, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"a:7"}));
    EXPECT_EQ(list->HandlerCount(7), 1);
}

TEST_F(EventListTest, HandlersMayUnsubscribeThemselvesAndSubscribeOthersWhileRunning) {
    TRecorder late{calls, "late"};
    TRecorder once{calls, "once"};
    once.action = [&] {
        list->Unsubscribe(9, once.Handler());
        list->Subscribe(9, late.Handler());
    };
    list->Subscribe(9, once.Handler());
    list->Fire(nullptr, 9, nullptr);
    list->Fire(nullptr, 9, nullptr);
    EXPECT_EQ(calls, (std::vector<std::string>{"once:9", "late:9"}));
}

TEST_F(EventListTest, UnsubscribeRemovesOneMatchingRecordOnly) {
    TRecorder a{calls, "a"};
    list->Subscribe(4, a.Handler());
    list->Subscribe(4, a.Handler());
    EXPECT_TRUE(list->Unsubscribe(4, a.Handler()));
    list->Fire(nullptr, 4, nullptr);
    EXPECT_EQ(calls.size(), 1u);
    EXPECT_TRUE(list->Unsubscribe(4, a.Handler()));
    EXPECT_FALSE(list->Unsubscribe(4, a.Handler()));
    EXPECT_FALSE(list->Unsubscribe(400, a.Handler()));
}

TEST_F(EventListTest, UnsubscribingAHandlerSubscribedTwiceRemovesItsNewestSubscription) {
    TRecorder a{calls, "a"}, b{calls, "b"};
    list->Subscribe(6, a.Handler());
    list->Subscribe(6, b.Handler());
    list->Subscribe(6, a.Handler());
    EXPECT_TRUE(list->Unsubscribe(6, a.Handler()));
    list->Fire(nullptr, 6, nullptr);
    // The first subscription of "a" stays, so it still runs before "b".
    EXPECT_EQ(calls, (std::vector<std::string>{"a:6", "b:6"}));
}

TEST_F(EventListTest, UnsubscribeLeavesOtherNumbersOfTheSameBucketAlone) {
    TRecorder a{calls, "a"};
    list->Subscribe(2, a.Handler());
    list->Subscribe(2 + 16, a.Handler());
    list->Subscribe(2, a.Handler());
    EXPECT_TRUE(list->Unsubscribe(18, a.Handler()));
    EXPECT_FALSE(list->Unsubscribe(18, a.Handler()));
    EXPECT_EQ(list->HandlerCount(2), 2);
    list->Fire(nullptr, 18, nullptr);
    EXPECT_TRUE(calls.empty());
}

TEST_F(EventListTest, PassesSenderAndData) {
    struct TCapture {
        TRefObject* sender = nullptr;
        TRefObject* data = nullptr;
        void OnEvent(TRefObject* s, int, TRefObject* d) { sender = s, data = d; }
    } capture;
    list->Subscribe(1, MakeEventHandler<&TCapture::OnEvent>(&capture));
    TEventList* sender = new TEventList;
    TEventList* data = new TEventList;
    list->Fire(sender, 1, data);
    EXPECT_EQ(capture.sender, sender);
    EXPECT_EQ(capture.data, data);
    sender->Release();
    data->Release();
}

TEST(EventListBuckets, ClampTheBucketCount) {
    auto* small = new TEventList(0);
    auto* large = new TEventList(100000);
    EXPECT_EQ(small->BucketCount(), 1);
    EXPECT_EQ(large->BucketCount(), 4096);
    small->Release();
    large->Release();
}

TEST(EventNumbers, IncreaseByOne) {
    const int first = TCustomEventList::NewEventNumber();
    EXPECT_GE(first, 1);
    EXPECT_EQ(TCustomEventList::NewEventNumber(), first + 1);
}

} // namespace
} // namespace kiv
