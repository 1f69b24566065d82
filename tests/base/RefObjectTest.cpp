#include "base/Assert.h"
#include "base/Exception.h"
#include "base/RefObject.h"
#include "support/Tracked.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <type_traits>
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

TEST(RefPointer, AdoptTakesOverAndShareAddsAReference) {
    static_assert(!std::is_constructible_v<TRef<TTracked>, TTracked*>,
                  "a raw pointer must be adopted or shared by name, so TRef<T>(new T) cannot leak");
    std::atomic<int> destroyed{0};
    auto* raw = new TTracked(destroyed);
    {
        TRef<TTracked> extra = TRef<TTracked>::Share(raw);
        EXPECT_EQ(raw->RefCount(), 2);
        EXPECT_EQ(extra.Get(), raw);
    }
    EXPECT_EQ(raw->RefCount(), 1);
    { auto owner = TRef<TTracked>::Adopt(raw); }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefPointer, SharingNothingHoldsNothing) {
    EXPECT_FALSE(TRef<TTracked>::Share(nullptr));
    EXPECT_FALSE(TRef<TTracked>::Adopt(nullptr));
}

// A reference-counted object that may live on the stack or inside another object.
class TPlain : public TRefObject {
public:
    ~TPlain() override = default;
};

class TThrowsWhileMade : public TRefObject {
public:
    TThrowsWhileMade() { throw std::runtime_error("cannot make it"); }
};

struct THolder : public TRefObject {
    TPlain member;
};

TEST(RefObjectLifetime, ObjectsThatDieProperlyPassTheDebugCheck) {
    { TPlain onStack; } // its creator's reference only
    {
        TPlain onStack;
        { auto shared = TRef<TPlain>::Share(&onStack); } // shared and given back before it dies
    }
    auto* holder = new THolder; // the member is not taken for a heap object
    holder->Release();
    EXPECT_THROW(new TThrowsWhileMade, std::runtime_error) << "a failed constructor is no misuse";
    std::vector<TPlain> many(3); // made in place by the vector, not by new
    auto* kept = new TKeptAlive;
    kept->Release();
    kept->Free(); // deleted later with its count at 0
    SUCCEED();
}

#if defined(KIV_DEBUG_CHECKS)
TEST(RefObjectLifetimeDeathTest, AStackObjectDestroyedWhileATRefHoldsItAsserts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            TRef<TPlain> holder;
            {
                TPlain onStack;
                holder = TRef<TPlain>::Share(&onStack);
            }
            holder.Detach(); // not reached
        },
        "Asseertion with message: 'Object at .* destroyed while still referenced \\(count 2\\)' "
        "\\(RefObject.cpp, line: ");
}

TEST(RefObjectLifetimeDeathTest, DeletingALiveHeapObjectAsserts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto* object = new TPlain;
            delete object; // its reference was never released
        },
        "destroyed while still referenced \\(count 1\\)");
}
#endif

TEST(Assertion, IsNotTakenForBadInputByHandlersThatCarryOn) {
    static_assert(!std::is_base_of_v<std::exception, EAssertionFailed>);
    static_assert(!std::is_base_of_v<Exception, EAssertionFailed>);
    bool passed = false;
    try {
        try {
            KIV_FAIL("invariant");
        } catch (const std::exception&) {
            ADD_FAILURE() << "a log-and-carry-on handler caught the assertion";
        }
    } catch (const EAssertionFailed& failure) {
        passed = true;
        EXPECT_STREQ(failure.what(), failure.Message().c_str());
    }
    EXPECT_TRUE(passed);
}

TEST(Assertion, ThreadChecksTellTheRightThreadFromTheWrongOne) {
    const std::thread::id here = std::this_thread::get_id();
    KIV_ASSERT_THREAD(here);
    std::thread::id other;
    std::thread probe([&] { other = std::this_thread::get_id(); });
    probe.join();
    KIV_ASSERT_NOT_THREAD(other);
#if defined(KIV_DEBUG_CHECKS)
    EXPECT_THROW(KIV_ASSERT_THREAD(other), EAssertionFailed);
    EXPECT_THROW(KIV_ASSERT_NOT_THREAD(here), EAssertionFailed);
#endif
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
