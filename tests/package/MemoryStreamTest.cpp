// Memory and string streams, and the base operations every stream inherits.
#include "package/MemoryStream.h"
#include "package/PackageWriter.h"
// The tests folder has a helper of the same path, so the class under test is named by its place.
#include "package/StringStream.h"
#include "TestStreams.h"
#include "package/ZStream.h"

#include <gtest/gtest.h>

#include <vector>

namespace kiv {
namespace {

TEST(MemoryStream, GrowsInSmallStepsThenDoubles) {
    auto stream = MakeRef<TMemoryStream>();
    std::vector<std::int64_t> capacities;
    for (int i = 0; i < 400; ++i) {
        stream->WriteByte(static_cast<std::uint8_t>(i));
        if (capacities.empty() || capacities.back() != stream->Capacity()) capacities.push_back(stream->Capacity());
    }
    const std::vector<std::int64_t> expected = {16, 32, 48, 112, 176, 240, 304, 608};
    EXPECT_EQ(capacities, expected);
    EXPECT_EQ(stream->GetSize(), 400);
}

TEST(MemoryStream, PositionIsClampedAndReadsStopAtTheEnd) {
    auto stream = MakeRef<TMemoryStream>();
    stream->WriteBuffer("abcdef", 6);
    stream->SetPosition(100);
    EXPECT_EQ(stream->GetPosition(), 6);
    stream->SetPosition(-5);
    EXPECT_EQ(stream->GetPosition(), 0);
    stream->SetPosition(4);
    char buffer[10] = {};
    EXPECT_EQ(stream->Read(buffer, 10), 2);
    EXPECT_EQ(std::string(buffer, 2), "ef");
    EXPECT_EQ(stream->Read(buffer, 10), 0);
}

TEST(MemoryStream, SetSizeGrowsExactlyCutsThePositionAndZeroFrees) {
    auto stream = MakeRef<TMemoryStream>();
    stream->SetSize(1000);
    EXPECT_EQ(stream->Capacity(), 1000);
    EXPECT_EQ(stream->Memory()[999], 0);
    stream->SetPosition(900);
    stream->SetSize(10);
    EXPECT_EQ(stream->GetPosition(), 10);
    stream->SetSize(0);
    EXPECT_EQ(stream->Capacity(), 0);
    EXPECT_EQ(stream->Memory(), nullptr);
    EXPECT_THROW(stream->SetSize(-1), EStreamError);
    EXPECT_THROW(stream->SetSize(TMemoryStream::kMaxSize + 1), EStreamError);
}

TEST(MemoryStream, ShrinkingToTheSizeKeepsTheBytesAndThePosition) {
    auto stream = MakeRef<TMemoryStream>();
    ASSERT_TRUE(stream->Reserve(1 << 20));
    stream->WriteBuffer("abcdef", 6);
    stream->SetPosition(2);
    stream->ShrinkToSize();
    EXPECT_EQ(stream->Capacity(), 6);
    EXPECT_EQ(stream->GetPosition(), 2);
    char rest[4] = {};
    EXPECT_EQ(stream->Read(rest, 4), 4);
    EXPECT_EQ(std::string(rest, 4), "cdef");
    stream->WriteBuffer("g", 1); // grows again by the usual steps
    EXPECT_EQ(stream->GetSize(), 7);
    auto empty = MakeRef<TMemoryStream>();
    ASSERT_TRUE(empty->Reserve(4096));
    empty->ShrinkToSize();
    EXPECT_EQ(empty->Capacity(), 0);
    EXPECT_EQ(empty->Memory(), nullptr);
}

TEST(MemoryStream, CopyFromTakesWhatTheSourceHasLeft) {
    auto source = test::MemoryWith("0123456789");
    source->SetPosition(6);
    auto target = MakeRef<TMemoryStream>();
    EXPECT_EQ(target->CopyFrom(*source, 100), 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target->Memory()), 4), "6789");
}

TEST(MemoryStream, LoadFromKeepsTheSourcePositionAndRewinds) {
    auto source = test::MemoryWith("hello world");
    source->SetPosition(3);
    auto target = MakeRef<TMemoryStream>();
    target->WriteBuffer("old content that is longer", 26);
    target->LoadFrom(*source);
    EXPECT_EQ(target->GetSize(), 11);
    EXPECT_EQ(target->GetPosition(), 0);
    EXPECT_EQ(source->GetPosition(), 3);
    EXPECT_EQ(target->ReadString8(11), "hello world");
}

TEST(MemoryStream, CopyingAStreamOfUnknownSizeCopiesUntilTheDecoderEnds) {
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + "\n";
    auto packed = test::MemoryWith(DeflateRaw(text));
    auto decoder = MakeRef<TInflateStream>(packed.Get(), -1);
    ASSERT_EQ(decoder->GetSize(), -1);
    auto target = MakeRef<TMemoryStream>();
    target->LoadFrom(*decoder);
    ASSERT_EQ(target->GetSize(), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target->Memory()), text.size()), text);
}

TEST(StreamHelpers, FixedSizeReadsAndWritesRoundTripAndRaiseWhenShort) {
    auto stream = MakeRef<TMemoryStream>();
    stream->WriteByte(0xAB);
    stream->WriteUInt16LE(0x1234);
    stream->WriteUInt32LE(0xDEADBEEF);
    stream->WriteUInt32BE(0x01020304);
    stream->WriteString16(u"h\u00e9");
    stream->WriteString8("xyz");
    stream->SetPosition(0);
    EXPECT_EQ(stream->ReadByte(), 0xAB);
    EXPECT_EQ(stream->ReadUInt16LE(), 0x1234);
    EXPECT_EQ(stream->ReadUInt32LE(), 0xDEADBEEFu);
    EXPECT_EQ(stream->ReadUInt32LE(), 0x04030201u) << "big-endian write read back little-endian";
    EXPECT_EQ(stream->ReadString16(2), u"h\u00e9");
    EXPECT_EQ(stream->ReadString8(3), "xyz");
    EXPECT_THROW(stream->ReadByte(), EStreamReadError);
    stream->SetPosition(0);
    EXPECT_EQ(stream->ReadUInt16BE(), 0xAB34);
    EXPECT_THROW(stream->ReadString8(100), EStreamReadError);
}

TEST(StringStream, WritesOverwriteAndExtendTheText) {
    auto stream = MakeRef<TStringStream>("abcdef");
    stream->SetPosition(4);
    stream->WriteBuffer("XYZ", 3);
    EXPECT_EQ(stream->DataString(), "abcdXYZ");
    stream->SetSize(2);
    EXPECT_EQ(stream->GetPosition(), 2);
    EXPECT_EQ(stream->DataString(), "ab");
}

} // namespace
} // namespace kiv
