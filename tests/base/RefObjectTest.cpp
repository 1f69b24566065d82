#include "base/Assert.h"
#include "base/Exception.h"
#include "base/RefObject.h"
#include "support/Tracked.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace kiv {
namespace {

using test::TTracked;

TEST(RefObject, StartsWithOneReferenceAndDiesWithTheLast) {
    std::atomic<int> destroyed{0};
    auto* object = new TTracked(destroyed);
    EXPECT_EQ(object->RefCount(), 1);
    object->AddRef();
    object->Release();
    EXPECT_EQ(destroyed, 0);
    object->Release();
    EXPECT_EQ(destroyed, 1);
}

TEST(RefObject, CopyingDoesNotCopyTheCount) {
    std::atomic<int> destroyed{0};
    auto* original = new TTracked(destroyed, 5);
    original->AddRef();
    auto* copy = new TTracked(*original);
    EXPECT_EQ(copy->RefCount(), 1);
    EXPECT_EQ(copy->value, 5);
    copy->Release();
    original->Release();
    original->Release();
    EXPECT_EQ(destroyed, 2);
}

TEST(RefObject, CountsAtomicallyAcrossThreads) {
    std::atomic<int> destroyed{0};
    auto* object = new TTracked(destroyed);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([object] {
            for (int i = 0; i < 10000; ++i) {
                object->AddRef();
                object->Release();
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(object->RefCount(), 1);
    object->Release();
    EXPECT_EQ(destroyed, 1);
}

// An object whose memory outlives its last release, so that a second release can be observed.
class TKeptAlive : public TRefObject {
public:
    void Free() { DestroyDeferred(); }

protected:
    bool BeforeDestruction() override { return false; }
};

TEST(RefObject, ReleasingAFreedObjectIsTheDuplicateFreeAssertion) {
    auto* object = new TKeptAlive;
    object->Release();
    try {
        object->Release();
        FAIL() << "a second release must assert";
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message().rfind("Asseertion with message: 'Dupliacte free or _release at ", 0), 0u)
            << error.Message();
        EXPECT_NE(error.Message().find("' (RefObject.cpp, line: "), std::string::npos) << error.Message();
    }
    object->Free();
}

TEST(RefPointer, HoldsAndReleasesReferences) {
    std::atomic<int> destroyed{0};
    {
        TRef<TTracked> first = MakeRef<TTracked>(destroyed);
        EXPECT_EQ(first->RefCount(), 1);
        TRef<TTracked> second = first;
        EXPECT_EQ(first->RefCount(), 2);
        TRef<TTracked> moved = std::move(second);
        EXPECT_FALSE(second);
        EXPECT_EQ(first->RefCount(), 2);
        TRef<TRefObject> base = moved;
        EXPECT_EQ(first->RefCount(), 3);
        moved.Reset();
        base = nullptr;
        EXPECT_EQ(first->RefCount(), 1);
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPointer, AdoptTakesOverAndRawConstructionAddsAReference) {
    std::atomic<int> destroyed{0};
    auto* raw = new TTracked(destroyed);
    {
        TRef<TTracked> extra(raw);
        EXPECT_EQ(raw->RefCount(), 2);
    }
    EXPECT_EQ(raw->RefCount(), 1);
    { auto owner = TRef<TTracked>::Adopt(raw); }
    EXPECT_EQ(destroyed, 1);
}

TEST(Assertion, RaisesWithTheExactText) {
    EXPECT_EQ(AssertionText("Bad index", "/src/base/Thing.cpp", 42),
              "Asseertion with message: 'Bad index' (Thing.cpp, line: 42)");
    testing::internal::CaptureStderr();
    try {
        KIV_ASSERT(1 + 1 == 3, "Arithmetic");
        FAIL();
    } catch (const EAssertionFailed& error) {
        EXPECT_EQ(error.Message().rfind("Asseertion with message: 'Arithmetic' (RefObjectTest.cpp, line: ", 0), 0u);
    }
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Asseertion with message: 'Arithmetic'"), std::string::npos)
        << "the text also goes to the debugger output";
}

} // namespace
} // namespace kiv
