#include "audio/ShowDecoders.h"

#include "support/IniText.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kiv {
namespace {

// A file and a folder on disk that shows name by absolute path.
class ShowDecodersTest : public testing::Test {
protected:
    void SetUp() override {
        root_ = testing::TempDir() + "kiv_decoders_" + std::to_string(::getpid()) + "/";
        std::filesystem::create_directories(root_ + "folder");
        std::ofstream(root_ + "decoder.bin") << "not a library";
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string File() const { return root_ + "decoder.bin"; }
    std::string Folder() const { return root_ + "folder"; }

    // A probe that remembers what it was asked and finds only the Ogg decoder.
    TShowDecoders::TProbe Probe() {
        return [this](TShowDecoder decoder) {
            probed_.push_back(decoder);
            return decoder == TShowDecoder::Ogg;
        };
    }

    std::vector<TShowDecoder> probed_;

private:
    std::string root_;
};

TEST_F(ShowDecodersTest, AKeyNamingAFileOfTheShowChecksTheBuiltInDecoderOncePerProcess) {
    TShowDecoders decoders(Probe());
    // Section names are not case-sensitive: shows write [main] as well.
    const auto show = test::ParseIni("[main]\nopt_wmapath=" + File() + "\nopt_oggpath=" + File() + "\n");
    const std::string log = test::LoggedWhile([&] { decoders.Prepare(*show, ProcessFileAccessor().Get()); });
    EXPECT_NE(log.find("WMA INITIALIZE FAILED"), std::string::npos);
    EXPECT_EQ(log.find("OGG INITIALIZE FAILED"), std::string::npos);
    EXPECT_EQ(probed_, (std::vector{TShowDecoder::Wma, TShowDecoder::Ogg}));
    EXPECT_FALSE(decoders.Available(TShowDecoder::Wma));
    EXPECT_TRUE(decoders.Available(TShowDecoder::Ogg));

    // A later show neither checks again nor logs again, whatever it names.
    const std::string again =
        test::LoggedWhile([&] { decoders.Prepare(*show, ProcessFileAccessor().Get()); });
    EXPECT_EQ(again.find("INITIALIZE FAILED"), std::string::npos);
    EXPECT_EQ(probed_.size(), 2u);
    // The file was only looked at.
    std::ifstream in(File());
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "not a library");
}

TEST_F(ShowDecodersTest, KeysThatNameNoFileOfTheShowDoNothing) {
    TShowDecoders decoders(Probe());
    const std::vector<std::string> shows{
        "[Main]\n",
        "[Main]\nopt_wmapath=\nopt_oggpath=\n",
        "[Main]\nopt_wmapath=" + File() + ".missing\nopt_oggpath=no_such_decoder\n",
        "[Main]\nopt_wmapath=" + Folder() + "\nopt_oggpath=" + Folder() + "/\n",
    };
    const std::string log = test::LoggedWhile([&] {
        for (const std::string& show : shows)
            decoders.Prepare(*test::ParseIni(show), ProcessFileAccessor().Get());
        // Without the show's files no key can name one.
        decoders.Prepare(*test::ParseIni("[Main]\nopt_wmapath=" + File() + "\n"), nullptr);
    });
    EXPECT_TRUE(probed_.empty());
    EXPECT_EQ(log.find("INITIALIZE FAILED"), std::string::npos);
    EXPECT_FALSE(decoders.Available(TShowDecoder::Wma));
    // None of them used up the check: the first show that names a file has it.
    decoders.Prepare(*test::ParseIni("[Main]\nopt_oggpath=" + File() + "\n"), ProcessFileAccessor().Get());
    EXPECT_EQ(probed_, std::vector{TShowDecoder::Ogg});
}

TEST(ShowDecoders, TheBuiltInDecodersOfBothFormatsExist) {
    EXPECT_TRUE(BuiltInDecoderExists(TShowDecoder::Wma));
    EXPECT_TRUE(BuiltInDecoderExists(TShowDecoder::Ogg));
}

} // namespace
} // namespace kiv
