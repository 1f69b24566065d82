// INI documents read from and saved to package streams: the stream is read from its position, a
// stream of unknown size to its end; too large or short streams fail the load; the saver writes in
// blocks.
#include "package/IniStream.h"
#include "FakeStream.h"
#include "ini/TextDecoding.h"
#include "support/IniText.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

using test::ParseIni;

TEST(IniStream, StreamIsReadFromItsPosition) {
    test::TFakeStream stream("skip\xEF\xBB\xBFk=v");
    stream.SetPosition(4);
    EXPECT_EQ(ReadDecodedText(stream), "k=v");
}

TEST(IniStream, StreamOfUnknownSizeIsReadToItsEnd) {
    test::TFakeStream stream("k=\xE9");
    stream.PretendSize(-1);
    EXPECT_EQ(ReadDecodedText(stream), "k=\xC3\xA9");
}

TEST(IniStream, TooLargeOrShortStreamsFailTheLoad) {
    auto file = MakeRef<TIniFile>();
    file->LoadFromText("old=1\n");
    test::TFakeStream big("a=1");
    big.PretendSize(kMaxTextBytes + 1);
    EXPECT_FALSE(LoadIniFromStream(*file, big));
    EXPECT_EQ(file->Count(), 0);

    file->LoadFromText("old=1\n");
    test::TFakeStream shortStream("a=1");
    shortStream.PretendSize(10);
    EXPECT_FALSE(LoadIniFromStream(*file, shortStream));
    EXPECT_EQ(file->Count(), 0);

    file->LoadFromText("old=1\n");
    test::TFakeStream failing("a=1");
    failing.FailReads();
    EXPECT_FALSE(LoadIniFromStream(*file, failing));
    EXPECT_EQ(file->Count(), 0);

    // The same stream read whole loads.
    test::TFakeStream atLimit("a=1");
    atLimit.PretendSize(3);
    EXPECT_TRUE(LoadIniFromStream(*file, atLimit));
    EXPECT_EQ(file->GetText("a"), "1");
}

TEST(IniStream, SavedByteOrderMarkReadsBackAsUtf8) {
    auto file = ParseIni("a=1\n");
    EXPECT_EQ(file->SaveToBytes(true), "\xEF\xBB\xBF"
                                       "a=1\r\n");
    test::TFakeStream stream;
    SaveIniToStream(*file, stream, true);
    EXPECT_EQ(stream.Bytes(), "\xEF\xBB\xBF"
                              "a=1\r\n");
    // And a saved mark is read back as UTF-8.
    auto again = MakeRef<TIniFile>();
    test::TFakeStream in(stream.Bytes());
    ASSERT_TRUE(LoadIniFromStream(*again, in));
    EXPECT_EQ(again->GetText("a"), "1");
}

TEST(IniStream, StreamSaverWritesInBlocksOf32768Bytes) {
    test::TFakeStream stream;
    {
        TStreamTextSaver saver(stream);
        saver.Write(std::string(TStreamTextSaver::kBufferSize - 1, 'x'));
        EXPECT_EQ(stream.WriteCalls(), 0);
        saver.Write("yz");
        EXPECT_EQ(stream.WriteCalls(), 1);
        EXPECT_EQ(stream.Bytes().size(), TStreamTextSaver::kBufferSize);
        saver.Finish();
    }
    EXPECT_EQ(stream.WriteCalls(), 2);
    EXPECT_EQ(stream.Bytes().size(), TStreamTextSaver::kBufferSize + 1);
    EXPECT_EQ(stream.Bytes().back(), 'z');
}

} // namespace
} // namespace kiv
