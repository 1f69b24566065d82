// Key and section lookups in every form a list takes: short lists searched from their end, long
// ones through buckets, empty lists that hold nothing yet, names that fold beyond ASCII, and
// documents read from several threads at once.
#include "base/CaseFold.h"
#include "ini/IniFile.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

#include <latch>
#include <pthread.h>
#include <string>
#include <thread>
#include <vector>

namespace kiv {
namespace {

using test::ParseIni;

// The key a lookup must find: the last key item whose name folds alike.
const TIniItem* LastKeyNamed(const TIniList& list, std::string_view name) {
    for (int i = list.Count() - 1; i >= 0; --i) {
        const TIniItem* item = list.Item(i);
        if (item->IsKey() && SameTextFolded(item->Name(), name)) return item;
    }
    return nullptr;
}

// Names that repeat in other cases, fold beyond ASCII (Kelvin sign, long s, A with diaeresis) or
// differ only after a shared start. Bytes before hexadecimal letters are written in octal.
const std::vector<std::string> kNames = {
    "Size",        "SIZE",        "size1", "\342\204\252ey", "key",           "\xC5\xBFort", "SORT",
    "abc\xC3\x84", "ABC\xC3\xA4", "abc",   "abcd",           "Stra\303\237e", "STRASSE",
};

TEST(IniLookup, ShortAndLongListsFindTheKeyThatStandsLast) {
    // Grows one item at a time through the size where lookups switch to buckets, checking every
    // name after each step, then shrinks again.
    auto list = MakeRef<TIniList>();
    const auto checkAll = [&](int step) {
        for (const std::string& name : kNames)
            ASSERT_EQ(list->FindItem(name), LastKeyNamed(*list, name)) << name << " at step " << step;
        ASSERT_EQ(list->FindItem("missing"), nullptr);
        list->CheckConsistency();
    };
    for (int step = 0; step < 60; ++step) {
        const std::string& name = kNames[static_cast<std::size_t>(step * 7) % kNames.size()];
        if (step % 4 == 3)
            list->AddText("; line " + std::to_string(step));
        else if (step % 5 == 4)
            list->Insert(0, MakeRef<TIniItem>(name, "front" + std::to_string(step)));
        else
            list->AddKey(name, std::to_string(step));
        checkAll(step);
    }
    list->FindItem("key")->SetName("renamed");
    checkAll(100);
    while (list->Count() > 0) {
        list->Remove(list->Count() / 2);
        checkAll(200 + list->Count());
    }
    EXPECT_EQ(list->KeyCount(), 0);
}

TEST(IniLookup, SectionNamesFoldBeyondAscii) {
    auto file = ParseIni("[Stra\303\237e]\nk=1\n[\342\204\252elvin]\nk=2\n[abc\xC3\x84]\nk=3\n[abc]\nk=4\n");
    EXPECT_EQ(file->ReadInteger("STRA\303\237E", "K", 0), 1);
    EXPECT_EQ(file->FindSection("STRASSE"), nullptr) << "simple folding keeps the sharp s";
    EXPECT_EQ(file->ReadInteger("kelvin", "k", 0), 2);
    EXPECT_EQ(file->ReadInteger("ABC\xC3\xA4", "k", 0), 3);
    EXPECT_EQ(file->ReadInteger("ABC", "k", 0), 4);
    EXPECT_EQ(file->FindSection("ab"), nullptr);
    EXPECT_EQ(file->FindSection("abcd"), nullptr);
}

TEST(IniLookup, EmptyListsAnswerEveryQueryAndFillLater) {
    auto file = ParseIni("[empty]\n[full]\nk=1\n");
    TIniSection* empty = file->FindSection("EMPTY");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->Count(), 0);
    EXPECT_TRUE(empty->Items().empty());
    EXPECT_EQ(empty->KeyCount(), 0);
    EXPECT_EQ(empty->InsertionPoint(), 0);
    EXPECT_EQ(empty->ObjectCount(), 0);
    EXPECT_EQ(empty->FirstObject(), nullptr);
    EXPECT_EQ(empty->Item(0), nullptr);
    EXPECT_EQ(empty->FindItem("k"), nullptr);
    EXPECT_EQ(empty->FindObject("o"), nullptr);
    EXPECT_EQ(empty->GetInt32("k", 7), 7);
    empty->CheckConsistency();
    EXPECT_EQ(file->SaveToBytes(), "[empty]\r\n[full]\r\nk=1\r\n");

    // Filled by a path and a setter, cleared, and filled again.
    file->Path("empty:Logo:File")->SetValue("a.png");
    empty->SetInt32("k", 2);
    EXPECT_EQ(file->SaveToBytes(),
              "[empty]\r\nk=2\r\nobject Logo\r\n  File=a.png\r\nend\r\n[full]\r\nk=1\r\n");
    empty->Clear();
    EXPECT_EQ(empty->Count(), 0);
    EXPECT_EQ(empty->FirstObject(), nullptr);
    empty->Clear();
    empty->AddKey("k", "3");
    EXPECT_EQ(file->ReadInteger("empty", "k", 0), 3);
    file->CheckConsistency();

    // A copy of an empty list is empty, and assigning one empties the target.
    auto copy = MakeRef<TIniList>();
    copy->AddKey("x", "1");
    copy->Assign(*MakeRef<TIniList>());
    EXPECT_EQ(copy->Count(), 0);
    TRef<TIniItem> clone = MakeRef<TIniSection>("s")->Clone();
    EXPECT_EQ(static_cast<TIniList&>(*clone).Count(), 0);
}

TEST(IniLookup, DocumentReadOnSeveralThreadsFindsTheSameItems) {
    // Long lists build their buckets on the first lookup, which may come from any thread.
    std::string text;
    for (int k = 0; k < 40; ++k)
        text += "root" + std::to_string(k) + "=" + std::to_string(k) + "\n";
    for (int s = 0; s < 500; ++s) {
        text += "[Section" + std::to_string(s) + "]\n";
        for (int k = 0; k < 30; ++k)
            text += "Key" + std::to_string(k) + "=" + std::to_string(s * 100 + k) + "\n";
    }
    const TRef<TIniFile> file = ParseIni(text);
    constexpr int kThreads = 4;
    std::latch start(kThreads);
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            pthread_setname_np(pthread_self(), ("ini lookup " + std::to_string(t)).c_str());
            start.arrive_and_wait();
            for (int s = 0; s < 500; ++s) {
                const int k = (s + t) % 30;
                if (file->ReadInteger("SECTION" + std::to_string(s), "key" + std::to_string(k), -1) !=
                    s * 100 + k)
                    ++wrong[static_cast<std::size_t>(t)];
                if (file->GetInt32("ROOT" + std::to_string(s % 40), -1) != s % 40)
                    ++wrong[static_cast<std::size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(kThreads, 0));
    file->CheckConsistency();
}

TEST(IniLookup, ItemsAndListsFitTheirHeapBlocks) {
    // A million sections must cost no more than a few hundred megabytes: a key item and an empty
    // list each fit one 112-byte heap block (104 bytes asked for, plus the allocator's 8). Checked
    // builds add the reference check's heap mark, which pushes the members down by one word.
#if defined(KIV_DEBUG_CHECKS)
    constexpr std::size_t kCheckMark = 8;
#else
    constexpr std::size_t kCheckMark = 0;
#endif
    EXPECT_LE(sizeof(TIniItem), 104u + kCheckMark);
    EXPECT_LE(sizeof(TIniSection), 104u + kCheckMark);
}

} // namespace
} // namespace kiv
