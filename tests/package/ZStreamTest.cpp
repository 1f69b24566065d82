// The zlib readers and the one-shot inflator.
#include "package/Inflator.h"
#include "package/MemoryStream.h"
#include "package/PackageWriter.h"
#include "TestStreams.h"
#include "package/ZStream.h"

#include <gtest/gtest.h>

#include <zlib.h>

namespace kiv {
namespace {

std::string SampleText(int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "row " + std::to_string(i * 31 % 977) + ";";
    return text;
}

std::string ZlibFormat(const std::string& text) {
    uLongf size = compressBound(static_cast<uLong>(text.size()));
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(text.data()),
             static_cast<uLong>(text.size()));
    packed.resize(size);
    return packed;
}

std::string ReadAll(TStream& stream) {
    std::string out;
    char buffer[1000];
    while (const std::int32_t got = stream.Read(buffer, sizeof buffer)) out.append(buffer, static_cast<std::size_t>(got));
    return out;
}

TEST(InflateStream, BackwardSeekRewindsAndDecodesAgain) {
    const std::string text = SampleText(20000);
    auto packed = test::MemoryWith(DeflateRaw(text));
    auto stream = MakeRef<TInflateStream>(packed.Get(), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(stream->GetSize(), static_cast<std::int64_t>(text.size()));
    char buffer[50];
    stream->SetPosition(100000);
    ASSERT_EQ(stream->Read(buffer, 50), 50);
    EXPECT_EQ(std::string(buffer, 50), text.substr(100000, 50));
    stream->SetPosition(7);
    EXPECT_EQ(stream->GetPosition(), 7);
    ASSERT_EQ(stream->Read(buffer, 50), 50);
    EXPECT_EQ(std::string(buffer, 50), text.substr(7, 50));
    stream->SetPosition(0);
    EXPECT_EQ(ReadAll(*stream), text);
}

TEST(InflateStream, SeekingPastTheEndAndBadOperationsRaise) {
    const std::string text = SampleText(100);
    auto packed = test::MemoryWith(DeflateRaw(text));
    auto stream = MakeRef<TInflateStream>(packed.Get(), -1);
    EXPECT_THROW(stream->SetPosition(static_cast<std::int64_t>(text.size()) + 1), EStreamReadError);
    try {
        stream->SetSize(3);
        FAIL();
    } catch (const EZDecompressionError& error) {
        EXPECT_STREQ(error.what(), "Invalid ZStream operation!");
    }
    EXPECT_THROW(stream->Write("x", 1), EZDecompressionError);
    EXPECT_THROW(stream->SetPosition(-1), EZDecompressionError);
}

TEST(InflateStream, SourceIsLeftJustAfterTheCompressedData) {
    const std::string text = SampleText(50);
    const std::string packed = DeflateRaw(text);
    auto source = test::MemoryWith("ab" + packed + "TAIL");
    source->SetPosition(2);
    auto stream = MakeRef<TInflateStream>(source.Get(), -1);
    EXPECT_EQ(ReadAll(*stream), text);
    EXPECT_EQ(source->GetPosition(), static_cast<std::int64_t>(2 + packed.size()));
    EXPECT_EQ(source->ReadString8(4), "TAIL");
}

TEST(InflateStream, ReaderMovedAwayContinuesWhereItLeftTheSource) {
    const std::string text = SampleText(30000);
    auto source = test::MemoryWith(DeflateRaw(text));
    auto stream = MakeRef<TInflateStream>(source.Get(), -1);
    std::string first(70000, '\0');
    ASSERT_EQ(stream->Read(first.data(), 70000), 70000);
    source->SetPosition(0);
    EXPECT_EQ(first + ReadAll(*stream), text);
}

TEST(ZDecompressionStream, ReadsZlibFormatAndRejectsCorruptData) {
    const std::string text = SampleText(3000);
    auto packed = test::MemoryWith(ZlibFormat(text));
    auto stream = MakeRef<TZDecompressionStream>(packed.Get());
    EXPECT_EQ(stream->GetSize(), -1);
    EXPECT_EQ(ReadAll(*stream), text);
    EXPECT_EQ(stream->GetPosition(), static_cast<std::int64_t>(text.size()));

    std::string broken = ZlibFormat(text);
    broken[0] = 0x79; // not a valid zlib header
    auto bad = test::MemoryWith(broken);
    auto badStream = MakeRef<TZDecompressionStream>(bad.Get());
    char buffer[10];
    EXPECT_THROW(badStream->Read(buffer, 10), EZDecompressionError);
}

TEST(ZDecompressionStream, PresetDictionaryIsAnErrorNotAHang) {
    // A zlib header that announces a preset dictionary (FDICT), then a dictionary id.
    std::string data = "\x78\xBB";
    data += std::string("\x00\x00\x00\x01", 4);
    data += std::string(100, '\0');
    auto source = test::MemoryWith(data);
    auto stream = MakeRef<TZDecompressionStream>(source.Get());
    char buffer[10];
    EXPECT_THROW(stream->Read(buffer, 10), EZDecompressionError);
}

TEST(Inflator, DecodesWholeStreamAndReportsCorruptOrTruncatedData) {
    const std::string text = SampleText(40000);
    const std::string packed = DeflateRaw(text);
    auto source = test::MemoryWith(packed);
    auto target = MakeRef<TMemoryStream>();
    auto inflator = MakeRef<TInflator>();
    EXPECT_EQ(inflator->Inflate(*source, *target), static_cast<std::int64_t>(text.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target->Memory()), text.size()), text);

    auto truncated = test::MemoryWith(packed.substr(0, packed.size() / 2));
    auto out2 = MakeRef<TMemoryStream>();
    EXPECT_THROW(inflator->Inflate(*truncated, *out2), EZDecompressionError);

    auto garbage = test::MemoryWith(std::string("\xFF\xFF\xFF\xFF\xFF", 5));
    auto out3 = MakeRef<TMemoryStream>();
    EXPECT_THROW(inflator->Inflate(*garbage, *out3), EZDecompressionError);
}

TEST(Inflator, StopsADeflateBombAtTheLimit) {
    const std::string zeros(10 << 20, '\0');
    auto source = test::MemoryWith(DeflateRaw(zeros, 9));
    EXPECT_LT(source->GetSize(), 20000);
    auto target = MakeRef<TMemoryStream>();
    auto inflator = MakeRef<TInflator>();
    try {
        inflator->Inflate(*source, *target, 1 << 20);
        FAIL();
    } catch (const EZDecompressionError& error) {
        EXPECT_STREQ(error.what(), "Decompressed data too large");
    }
    EXPECT_LE(target->GetSize(), 1 << 20);
}

} // namespace
} // namespace kiv
