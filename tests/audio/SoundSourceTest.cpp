#include "audio/SoundSource.h"

#include "SoundTestFiles.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <unistd.h>

namespace kiv {
namespace {

using test::Constant;
using test::MemoryFile;
using test::Sine;
using test::WavBytes;

std::vector<std::int16_t> ReadAll(TSoundSource& source, int chunk = 1000) {
    std::vector<std::int16_t> out;
    std::vector<std::int16_t> block(static_cast<std::size_t>(chunk) * source.Channels());
    for (;;) {
        const int got = source.Read(block.data(), chunk);
        out.insert(out.end(), block.begin(),
                   block.begin() + static_cast<std::ptrdiff_t>(got) * source.Channels());
        if (got < chunk) return out;
    }
}

TEST(DecodedSoundTest, PcmWavDecodesToItsSamplesWithLengthAndFormat) {
    const auto samples = Sine(44100, 44100, 2, 440, 20000);
    auto sound = OpenDecodedSound(MemoryFile(WavBytes(samples, 44100, 2)), "sine.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->Rate(), 44100);
    EXPECT_EQ(sound->Channels(), 2);
    EXPECT_NEAR(sound->LengthMs(), 1000, 1);
    EXPECT_EQ(ReadAll(*sound, 777), samples);
    std::int16_t more[8];
    EXPECT_EQ(sound->Read(more, 4), 0); // stays at its end
}

TEST(DecodedSoundTest, SeekLandsOnTheSampleAndAgainAfterTheEnd) {
    std::vector<std::int16_t> ramp;
    for (int f = 0; f < 22050; ++f)
        ramp.push_back(static_cast<std::int16_t>(f - 11025));
    auto sound = OpenDecodedSound(MemoryFile(WavBytes(ramp, 22050, 1)), "ramp.wav");
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->Channels(), 1);
    sound->Seek(500); // frame 11025
    std::int16_t got[4];
    ASSERT_EQ(sound->Read(got, 4), 4);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[3], 3);
    ReadAll(*sound);
    sound->Seek(100); // frame 2205, after the end was reached
    ASSERT_EQ(sound->Read(got, 1), 1);
    EXPECT_EQ(got[0], 2205 - 11025);
}

TEST(DecodedSoundTest, DeviceFormatResamplesMonoToStereo44100) {
    auto sound = OpenDecodedSound(MemoryFile(WavBytes(Constant(22050, 1, 8000), 22050, 1)), "dc.wav", true);
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->Rate(), 44100);
    EXPECT_EQ(sound->Channels(), 2);
    const auto out = ReadAll(*sound);
    EXPECT_NEAR(static_cast<double>(out.size()) / 2, 44100, 64);
    // Away from the edges the level is kept on both channels.
    for (std::size_t i = 2000; i < 80000; i += 997)
        EXPECT_NEAR(out[i], 8000, 2) << i;
}

TEST(DecodedSoundTest, BrokenAndForeignFilesGiveNoSourceAndALogLine) {
    const std::string wav = WavBytes(Sine(4410, 44100, 2, 440, 1000), 44100, 2);
    const std::string png = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(200, '\0');
    for (const std::string& bytes :
         {std::string(), std::string("hello, not a sound"), png, wav.substr(0, 20)}) {
        std::unique_ptr<TSoundSource> sound;
        const std::string log =
            test::LoggedWhile([&] { sound = OpenDecodedSound(MemoryFile(bytes), "bad.wav"); });
        EXPECT_FALSE(sound) << bytes.size();
        EXPECT_NE(log.find("Sound file cannot be decoded: bad.wav"), std::string::npos) << log;
    }
}

TEST(DecodedSoundTest, TruncatedWavPlaysWhatItHoldsThenEnds) {
    const auto samples = Constant(44100, 2, 1234);
    const std::string wav = WavBytes(samples, 44100, 2);
    auto sound = OpenDecodedSound(MemoryFile(wav.substr(0, 44 + 4 * 1000)), "cut.wav");
    ASSERT_TRUE(sound);
    const auto out = ReadAll(*sound);
    EXPECT_EQ(out.size(), 2000u);
    EXPECT_EQ(out, Constant(1000, 2, 1234));
}

// Puts a little-endian 32-bit value into `bytes` at `at`.
std::string Patched(std::string bytes, std::size_t at, std::uint32_t value, int width = 4) {
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

TEST(DecodedSoundTest, LyingWavHeadersNeverHangOrBurst) {
    const std::string wav = WavBytes(Constant(4410, 2, 3000), 44100, 2);
    // A data chunk claiming 4 GB plays the samples that are there, then ends.
    auto huge = OpenDecodedSound(MemoryFile(Patched(wav, 40, 0xFFFFFFF0u)), "huge.wav");
    ASSERT_TRUE(huge);
    const auto out = ReadAll(*huge);
    EXPECT_EQ(out, Constant(4410, 2, 3000));
    // No channels or no sample rate: not a sound, with a log line. Likewise a chunk before the data
    // claiming 4 GB (the walk ends at the file's end), 12-bit samples and a format chunk of 8 bytes.
    const std::string junk = wav.substr(0, 36) + "junk" + std::string("\xF0\xFF\xFF\xFF", 4) + wav.substr(36);
    const std::string shortFormat = wav.substr(0, 16) + std::string("\x08\0\0\0", 4) + wav.substr(20, 8) + wav.substr(36);
    for (const std::string& bytes : {Patched(wav, 22, 0, 2), Patched(wav, 24, 0), junk, Patched(wav, 34, 12, 2),
                                     shortFormat}) {
        std::unique_ptr<TSoundSource> sound;
        const std::string log =
            test::LoggedWhile([&] { sound = OpenDecodedSound(MemoryFile(bytes), "zero.wav"); });
        EXPECT_FALSE(sound);
        EXPECT_NE(log.find("Sound file cannot be decoded: zero.wav"), std::string::npos);
    }
}

// A WAV file of any sample format, with a LIST chunk of odd length (padded to a word) before the data.
std::string WavOf(int tag, int channels, int rate, int bits, const std::string& data, bool extensible = false) {
    std::string format;
    auto put = [](std::string& out, std::uint32_t v, int width) {
        for (int i = 0; i < width; ++i)
            out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    put(format, extensible ? 0xFFFE : tag, 2);
    put(format, channels, 2);
    put(format, rate, 4);
    put(format, rate * channels * bits / 8, 4);
    put(format, channels * bits / 8, 2);
    put(format, bits, 2);
    if (extensible) {
        put(format, 22, 2);
        put(format, bits, 2);
        put(format, 3, 4);
        put(format, tag, 2);
        format += std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    }
    std::string body = "WAVEfmt ";
    put(body, static_cast<std::uint32_t>(format.size()), 4);
    body += format + "LIST";
    put(body, 3, 4);
    body += std::string("abc\0", 4) + "data";
    put(body, static_cast<std::uint32_t>(data.size()), 4);
    body += data;
    std::string out = "RIFF";
    put(out, static_cast<std::uint32_t>(body.size()), 4);
    return out + body;
}

// WAV files whose format tag no decoder here knows, or whose MPEG data chunk holds no MPEG audio,
// are no sound with a log line: their bytes are never played as samples.
TEST(DecodedSoundTest, WavFilesOfUnknownOrEmptyCodecDataAreNoSound) {
    const auto sine = Sine(4410, 44100, 2, 440, 20000);
    const std::string pcm(reinterpret_cast<const char*>(sine.data()), sine.size() * 2);
    for (const std::string& bytes : {WavOf(0x1234, 2, 44100, 16, pcm), WavOf(0x55, 2, 44100, 0, std::string(8192, '\0')),
                                     WavOf(0x50, 1, 22050, 0, std::string(3000, '\x11'))}) {
        std::unique_ptr<TSoundSource> sound;
        const std::string log = test::LoggedWhile([&] { sound = OpenDecodedSound(MemoryFile(bytes), "coded.wav"); });
        EXPECT_FALSE(sound) << (sound ? sound->DecoderName() : "");
        EXPECT_NE(log.find("Sound file cannot be decoded: coded.wav"), std::string::npos) << log;
    }
}

TEST(DecodedSoundTest, OurWavConverterReadsEverySampleFormatToTheSample) {
    // A ramp over the whole 16-bit range in each format; lower bits that 16 bits cannot hold are
    // set so that they must be dropped, not rounded into the next value.
    std::vector<std::int16_t> ramp;
    for (int v = -32768; v < 32768; v += 257)
        ramp.push_back(static_cast<std::int16_t>(v));
    const struct {
        int tag, bits, channels;
        bool extensible;
    } formats[] = {{1, 8, 1, false}, {1, 16, 2, true}, {1, 24, 3, false}, {1, 32, 2, false},
                   {3, 32, 1, false}, {3, 64, 2, true}};
    for (const auto& format : formats) {
        SCOPED_TRACE(testing::Message() << "tag " << format.tag << ", " << format.bits << " bits");
        std::string data;
        std::vector<std::int16_t> expected;
        for (const std::int16_t v : ramp) {
            for (int c = 0; c < format.channels; ++c) {
                const std::int16_t s = c == 1 ? static_cast<std::int16_t>(-1 - v) : v; // channels differ
                std::uint64_t word = 0;
                // Float samples scale by 32767: 1.0 is the largest 16-bit sample.
                if (format.tag == 3 && format.bits == 32) {
                    const float f = static_cast<float>(s) / 32767.0f;
                    std::memcpy(&word, &f, 4);
                } else if (format.tag == 3) {
                    const double d = static_cast<double>(s) / 32767.0;
                    std::memcpy(&word, &d, 8);
                } else if (format.bits == 8) {
                    word = static_cast<std::uint8_t>((s >> 8) + 128);
                } else {
                    word = (static_cast<std::uint64_t>(static_cast<std::uint16_t>(s)) << (format.bits - 16)) |
                           ((1ull << (format.bits - 16)) - 1) / 3;
                }
                for (int i = 0; i < format.bits / 8; ++i)
                    data.push_back(static_cast<char>((word >> (8 * i)) & 0xFF));
                if (c < 2) expected.push_back(format.bits == 8 ? static_cast<std::int16_t>((s >> 8) * 256) : s);
            }
        }
        auto sound = OpenDecodedSound(MemoryFile(WavOf(format.tag, format.channels, 8000, format.bits, data,
                                                       format.extensible)),
                                      "formats.wav");
        ASSERT_TRUE(sound);
        EXPECT_STREQ(sound->DecoderName(), "wav");
        EXPECT_EQ(sound->Channels(), std::min(format.channels, 2));
        EXPECT_NEAR(sound->LengthMs(), ramp.size() / 8.0, 0.01);
        EXPECT_EQ(ReadAll(*sound, 100), expected);
        sound->Seek(10); // frame 80
        std::int16_t first[2];
        ASSERT_EQ(sound->Read(first, 1), 1);
        EXPECT_EQ(first[0], expected[80 * sound->Channels()]);
    }
}

TEST(OpenSoundTest, MissingFileLogsAndComposeTextNeedsNoStream) {
    test::TMemoryFiles files;
    std::unique_ptr<TSoundSource> sound;
    const std::string log = test::LoggedWhile([&] { sound = OpenSound("music\\gone.mp3", files.Opener()); });
    EXPECT_FALSE(sound);
    EXPECT_NE(log.find("Sound file not found: music\\gone.mp3"), std::string::npos);
}

// A composite of DC items, so every output sample shows the gain it was mixed with.
class CompositeSoundTest : public testing::Test {
protected:
    void SetUp() override {
        files_.files["a.wav"] = WavBytes(Constant(44100 * 2, 2, 20000), 44100, 2);
        files_.files["b.wav"] = WavBytes(Constant(44100 * 2, 2, 20000), 44100, 2);
        files_.files["c.wav"] = WavBytes(Constant(44100 * 2, 2, 8000), 44100, 2);
    }
    TCompositeItem Item(const std::string& name, std::int64_t at, std::int64_t duration) {
        TCompositeItem item;
        item.fileName = name;
        item.timeLine = at;
        item.duration = duration;
        return item;
    }
    // Every sample `description` reads to, in blocks of several sizes, against its mix computed frame
    // by frame; items name "v.wav" (`varied`, stereo) or "mono.wav" (`mono`).
    void ExpectEveryFrameByTheFormula(const TCompositeDescription& description,
                                      const std::vector<std::int16_t>& varied, const std::vector<std::int16_t>& mono);
    test::TMemoryFiles files_;
};

TEST_F(CompositeSoundTest, EdgeEnvelopeMainVolumeAndClampingAreSampleExact) {
    TCompositeDescription description;
    description.duration = 1000;
    description.items.push_back(Item("a.wav", 0, 1000));
    description.items.push_back(Item("b.wav", 500, 500));
    description.mainVolume.push_back({{0, 1000}, {1000, 1000}});
    auto sound = OpenSound(WriteCompositeText(description), files_.Opener());
    ASSERT_TRUE(sound);
    EXPECT_EQ(sound->LengthMs(), 1000);
    const auto out = ReadAll(*sound, 2500);
    ASSERT_EQ(out.size(), 44100u * 2);
    EXPECT_EQ(out[0], 0);                                      // the edge envelope starts at 0
    EXPECT_EQ(out[2 * 220], std::lround(20000 * 220 / 441.0)); // halfway up the 10 ms ramp
    EXPECT_EQ(out[2 * 1000], 20000);                           // one item alone
    EXPECT_EQ(out[2 * 30000], 32767);                          // both items: clamped
    EXPECT_EQ(out[2 * 30000 + 1], 32767);
}

TEST_F(CompositeSoundTest, CrossFadeEnvelopesAndSeekGiveTheComputedGains) {
    TCompositeDescription description;
    description.duration = 2000;
    TCompositeItem a = Item("a.wav", 0, 2000);
    a.envelopes.push_back({{0, 1000}, {1000, 1000}, {2000, 0}}); // fades out over the second half
    TCompositeItem b = Item("c.wav", 1000, 1000);
    b.envelopes.push_back({{0, 0}, {1000, 1000}}); // fades in
    description.items = {a, b};
    auto sound = OpenSound(WriteCompositeText(description), files_.Opener());
    ASSERT_TRUE(sound);
    sound->Seek(1500); // the middle of the cross-fade: both at half volume
    std::int16_t frame[2];
    ASSERT_EQ(sound->Read(frame, 1), 1);
    EXPECT_NEAR(frame[0], 10000 + 4000, 2);
    sound->Seek(1250); // a at 3/4, b at 1/4
    ASSERT_EQ(sound->Read(frame, 1), 1);
    EXPECT_NEAR(frame[0], 15000 + 2000, 2);
    sound->Seek(900); // a alone at full volume
    ASSERT_EQ(sound->Read(frame, 1), 1);
    EXPECT_EQ(frame[0], 20000);
}

TEST_F(CompositeSoundTest, AnItemThatCannotOpenIsSilentAndLogged) {
    TCompositeDescription description;
    description.duration = 500;
    description.items.push_back(Item("missing.wav", 0, 500));
    description.items.push_back(Item("a.wav", 250, 250));
    std::unique_ptr<TSoundSource> sound;
    std::vector<std::int16_t> out;
    const std::string log = test::LoggedWhile([&] {
        sound = OpenSound(WriteCompositeText(description), files_.Opener());
        ASSERT_TRUE(sound);
        out = ReadAll(*sound);
    });
    EXPECT_NE(log.find("Sound file not found: missing.wav"), std::string::npos);
    ASSERT_EQ(out.size(), 22050u * 2);
    EXPECT_EQ(out[2 * 5000], 0);
    EXPECT_EQ(out[2 * 16000], 20000);
}

// The whole reader against the mixing formula evaluated frame by frame: items over varied samples
// (full scale both ways), fades, holds at ordinary, near-unity, tiny and huge volumes, a main volume,
// read in blocks that cut the ramps anywhere. Every output sample must be the formula's.
TEST_F(CompositeSoundTest, EveryFrameIsTheSumOfItsItemsAtTheirEnvelopesGains) {
    std::vector<std::int16_t> varied, mono;
    for (int f = 0; f < 44100; ++f) {
        const int value = static_cast<int>((f * 7919L) % 65536) - 32768; // every value, spread out
        varied.push_back(static_cast<std::int16_t>(value));
        varied.push_back(static_cast<std::int16_t>(-1 - value));
        mono.push_back(static_cast<std::int16_t>(value / 2 + f % 3));
    }
    files_.files["v.wav"] = WavBytes(varied, 44100, 2);
    files_.files["mono.wav"] = WavBytes(mono, 44100, 1); // on both sides at its own level
    TCompositeDescription description;
    description.duration = 900;
    TCompositeItem a = Item("v.wav", 0, 900);
    a.envelopes.push_back({{0, 0}, {100, 800}, {300, 800}, {301, 1005}, {400, 1005}, {450, 0}, {500, 0},
                           {520, 3}, {600, 3}, {620, 70000}, {700, 70000}, {800, 2000000}, {900, 500}});
    a.envelopes.push_back({{0, 900}, {450, 1000}, {900, 700}});
    TCompositeItem b = Item("mono.wav", 250, 500);
    b.beginTime = 100;
    b.envelopes.push_back({{0, 1000}, {250, 333}, {500, 1000}});
    description.items = {a, b};
    description.mainVolume.push_back({{0, 1000}, {200, 1000}, {600, 500}, {700, 0}, {720, 0}, {800, 1000}});
    // Long holds, where a block is mixed at one gain: exact halves (500), ordinary volumes, a volume
    // that changes between holds, products past 16 bits; no main volume.
    TCompositeDescription holds;
    holds.duration = 900;
    TCompositeItem loud = Item("v.wav", 0, 700); // alone before 100 ms, then the mono item alone
    loud.envelopes.push_back({{0, 500}, {300, 500}, {301, 800}, {600, 800}, {601, 1700}, {700, 1700}});
    TCompositeItem quiet = Item("mono.wav", 100, 800);
    quiet.envelopes.push_back({{0, 300}, {350, 300}, {360, 650}, {800, 650}});
    holds.items = {loud, quiet};

    for (const TCompositeDescription& tried : {description, holds})
        ExpectEveryFrameByTheFormula(tried, varied, mono);
}

void CompositeSoundTest::ExpectEveryFrameByTheFormula(const TCompositeDescription& description,
                                                      const std::vector<std::int16_t>& varied,
                                                      const std::vector<std::int16_t>& mono) {
    // The formula, frame by frame, with the library's rounding.
    const auto frameOf = [](std::int64_t ms) { return ms * 176400 / 4000; };
    std::vector<std::int32_t> sum(static_cast<std::size_t>(frameOf(description.duration)) * 2, 0);
    for (const TCompositeItem& item : description.items) {
        std::vector<std::vector<TEnvelopeStep>> envelopes;
        for (const TVolumeParams& envelope : item.envelopes)
            envelopes.push_back(PrepareEnvelope(envelope, item.duration));
        envelopes.push_back(PrepareEnvelope(EdgeEnvelope(item.duration), item.duration));
        const std::int64_t start = frameOf(item.timeLine);
        const std::int64_t skip = std::llround(item.beginTime * 44.1);
        for (std::int64_t f = 0; f < frameOf(item.duration); ++f) {
            double gain = 1.0;
            for (const auto& steps : envelopes)
                gain *= EnvelopeVolumeAt(steps, f * 4) / 1000.0;
            if (gain <= 0.00001) continue;
            for (int c = 0; c < 2; ++c) {
                const std::int32_t sample = item.fileName == "mono.wav"
                                                ? mono[static_cast<std::size_t>(skip + f)]
                                                : varied[static_cast<std::size_t>((skip + f) * 2 + c)];
                sum[static_cast<std::size_t>((start + f) * 2 + c)] +=
                    gain > 0.99 && gain < 1.01 ? sample : static_cast<std::int32_t>(std::lround(sample * gain));
            }
        }
    }
    const std::vector<TEnvelopeStep> main =
        description.mainVolume.empty() ? std::vector<TEnvelopeStep>{}
                                       : PrepareEnvelope(description.mainVolume[0], description.duration);
    std::vector<std::int16_t> expected(sum.size());
    for (std::size_t i = 0; i < sum.size(); ++i) {
        const double gain =
            main.empty() ? 1.0 : EnvelopeVolumeAt(main, static_cast<std::int64_t>(i / 2) * 4) / 1000.0;
        std::int32_t value = sum[i];
        if (gain < 0.001)
            value = 0;
        else if (!(gain > 0.99 && gain < 1.01))
            value = static_cast<std::int32_t>(std::lround(value * gain));
        expected[i] = static_cast<std::int16_t>(std::clamp(value, -32768, 32767));
    }

    for (const int block : {221, 1000, 4096}) {
        auto sound = OpenSound(WriteCompositeText(description), files_.Opener());
        ASSERT_TRUE(sound);
        const auto out = ReadAll(*sound, block);
        ASSERT_EQ(out.size(), expected.size());
        for (std::size_t i = 0; i < out.size(); ++i)
            ASSERT_EQ(out[i], expected[i]) << "block " << block << ", frame " << i / 2 << ", channel " << i % 2;
    }
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// The offset (frames, within ±`range`) at which `part` matches `whole` around `at` best.
int BestMatch(const std::vector<std::int16_t>& whole, const std::vector<std::int16_t>& part, std::int64_t at,
              int channels, int range) {
    int best = 0;
    double bestError = 1e300;
    for (int d = -range; d <= range; ++d) {
        double error = 0;
        for (std::size_t i = 512 * channels; i < part.size(); ++i) {
            const std::int64_t j = (at + d) * channels + static_cast<std::int64_t>(i);
            if (j < 0 || j >= static_cast<std::int64_t>(whole.size())) {
                error = 1e300;
                break;
            }
            error += std::abs(part[i] - whole[static_cast<std::size_t>(j)]);
        }
        if (error < bestError) bestError = error, best = d;
    }
    return best;
}

TEST(DecodedSoundTest, SeekingIntoAnMp3LandsWithinOneFrameOfTheSample) {
    std::ifstream in(std::string(KIV_TEST_SOURCE_DIR) + "/examples/demo/music/theme.mp3", std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(bytes.size(), 10000u);
    auto sound = OpenDecodedSound(MemoryFile(bytes), "theme.mp3");
    ASSERT_TRUE(sound);
    const int channels = sound->Channels();
    const auto whole = ReadAll(*sound, 4096);
    EXPECT_NEAR(static_cast<double>(whole.size()) / channels / sound->Rate() * 1000, sound->LengthMs(), 60);
    for (const int ms : {1000, 2500, 7000}) {
        sound->Seek(ms);
        std::vector<std::int16_t> part(static_cast<std::size_t>(4096) * channels);
        ASSERT_EQ(sound->Read(part.data(), 4096), 4096);
        const std::int64_t at = static_cast<std::int64_t>(ms) * sound->Rate() / 1000;
        // Measured: 0 or 1 frame off; one MP3 frame is 1152.
        EXPECT_LE(std::abs(BestMatch(whole, part, at, channels, 1152)), 32) << ms;
    }
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// Each compressed format the decoder takes, encoded here by the ffmpeg program from 3 s of a sweep
// at half scale whose pitch rises from 300 Hz by 100 Hz a second: it must decode to that sweep
// (length, pitch and level), and a seek near the start and one far into it land on the sample.
TEST(DecodedSoundTest, CompressedFormatsMadeByFfmpegDecodeToTheirSweepAndSeek) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    const std::string dir = testing::TempDir() + "kiv_codecs_" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(dir);
    const struct {
        const char* file;
        const char* options;
        int rate;
        int channels;
        int codecFrame; // frames per coded frame
        int farSeek;    // frames a seek far into the sound may be off
        const char* decoder;
    } formats[] = {
        // ASF stamps packets in whole milliseconds.
        {"sine.wma", "-c:a wmav2 -b:a 128k", 22050, 1, 2048, 23, "ffmpeg"},
        {"sine.m4a", "-c:a aac -b:a 192k", 48000, 2, 1024, 2, "ffmpeg"},
        {"sine.ogg", "-c:a libvorbis -q:a 6", 44100, 2, 2048, 2, "vorbisfile"},
        {"sine.mp3", "-c:a libmp3lame -b:a 192k", 32000, 1, 1152, 2, "mpg123"},
        // MPEG audio in a WAV file (format tag 0x0055): the data chunk is an MP3 stream. Without the
        // gapless information of an MP3 file the encoder's delay and padding play too (two frames).
        {"sine-mp3.wav", "-c:a libmp3lame -b:a 192k -f wav", 32000, 1, 2304, 2, "mpg123"},
        {"sine.flac", "-c:a flac", 11025, 2, 4608, 2, "ffmpeg"},
        {"sine-ms.wav", "-c:a adpcm_ms", 22050, 2, 1024, 2, "sndfile"},
        {"sine-ima.wav", "-c:a adpcm_ima_wav", 16000, 1, 1024, 2, "sndfile"},
        {"sine-alaw.wav", "-c:a pcm_alaw", 8000, 1, 1, 2, "ffmpeg"}, // other tags: FFmpeg's decoders
    };
    for (const auto& format : formats) {
        SCOPED_TRACE(format.file);
        const std::string path = dir + format.file;
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
                                    "'aevalsrc=0.5*sin(2*PI*(300*t+50*t*t)):d=3:s=" +
                                    std::to_string(format.rate) + "' -ac " + std::to_string(format.channels) +
                                    " " + format.options + " " + path;
        if (std::system(command.c_str()) != 0) {
            ADD_FAILURE() << "ffmpeg cannot make the file: " << command;
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        auto sound = OpenDecodedSound(MemoryFile(bytes), format.file);
        ASSERT_TRUE(sound);
        EXPECT_STREQ(sound->DecoderName(), format.decoder);
        EXPECT_EQ(sound->Rate(), format.rate);
        EXPECT_EQ(sound->Channels(), format.channels);
        const int channels = sound->Channels();
        const auto whole = ReadAll(*sound, 777);
        const auto frames = static_cast<std::int64_t>(whole.size()) / channels;
        // Encoders pad to whole codec frames; the decoder drops the priming where the file says so.
        EXPECT_NEAR(static_cast<double>(frames), 3.0 * format.rate, format.codecFrame + 1.0);
        EXPECT_NEAR(sound->LengthMs(), 3000, 1000.0 * (format.codecFrame + 1) / format.rate);
        // From 0.1 to 0.5 s: 132 periods (counted in rising zero crossings) at the sweep's level (RMS).
        const std::int64_t from = format.rate / 10, to = from + format.rate * 4 / 10;
        ASSERT_GT(frames, to);
        // Rising crossings from below -2000 to above 2000, so that coding noise near 0 is not counted.
        int crossings = 0;
        bool low = false;
        double power = 0;
        for (std::int64_t f = from; f < to; ++f) {
            const double v = whole[static_cast<std::size_t>(f * channels)];
            if (v < -2000) low = true;
            if (v > 2000 && low) ++crossings, low = false;
            power += v * v;
        }
        EXPECT_NEAR(crossings, 132, 2);
        // ffmpeg spreads mono onto two channels 3 dB lower.
        const double amplitude = 32767 * 0.5 / (channels == 2 ? std::sqrt(2.0) : 1.0);
        EXPECT_NEAR(std::sqrt(power / static_cast<double>(to - from)), amplitude / std::sqrt(2.0), 600);
        // Seeking: the part read after a seek lies where it belongs in the whole.
        for (const int ms : {137, 2100}) {
            sound->Seek(ms);
            std::vector<std::int16_t> part(static_cast<std::size_t>(2048) * channels);
            ASSERT_EQ(sound->Read(part.data(), 2048), 2048);
            const std::int64_t at = static_cast<std::int64_t>(ms) * format.rate / 1000;
            EXPECT_LE(std::abs(BestMatch(whole, part, at, channels, 2 * format.codecFrame)),
                      ms < 1000 ? 2 : format.farSeek)
                << ms;
        }
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kiv

namespace kiv {
namespace {

// 5.1 sound made by ffmpeg, a different sine on each channel, as a WAV file (read by our converter)
// and as FLAC (decoded by FFmpeg): both fold to the same stereo, left = FL + FC + LFE + left
// surround and right = FR + FC + LFE + right surround, a quarter of each sum; computed here from the
// WAV's own samples. A WAV whose centre alone sounds is heard on both sides at a quarter of it.
TEST(DecodedSoundTest, FivePointOneFoldsToTheSameStereoFromEveryContainer) {
    if (std::system("ffmpeg -hide_banner -version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "the ffmpeg program is not installed (scripts/install-deps.sh installs it)";
    const std::string dir = testing::TempDir() + "kiv_fold_" + std::to_string(::getpid()) + "/";
    std::filesystem::create_directories(dir);
    const auto make = [&](const std::string& channels, const std::string& file) {
        const std::string command = "ffmpeg -hide_banner -loglevel error -y -f lavfi -i 'aevalsrc=" + channels +
                                    ":s=44100:d=1:c=5.1' -c:a " +
                                    (file.ends_with(".flac") ? "flac" : "pcm_s16le") + " " + dir + file;
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        std::ifstream in(dir + file, std::ios::binary);
        return std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    };
    const std::string six = "0.9*sin(2*PI*200*t)|0.8*sin(2*PI*300*t)|0.7*sin(2*PI*400*t)|0.6*sin(2*PI*500*t)|"
                            "0.5*sin(2*PI*600*t)|0.4*sin(2*PI*700*t)";
    const std::string wavBytes = make(six, "six.wav");
    const std::string flacBytes = make(six, "six.flac");
    // The WAV's samples, in its order FL FR FC LFE SL SR, after its header.
    const std::size_t data = wavBytes.find("data");
    ASSERT_NE(data, std::string::npos);
    std::vector<std::int16_t> raw((wavBytes.size() - data - 8) / 2);
    std::memcpy(raw.data(), wavBytes.data() + data + 8, raw.size() * 2);
    std::vector<std::int16_t> fold;
    for (std::size_t f = 0; f + 6 <= raw.size(); f += 6) {
        const int common = raw[f + 2] + raw[f + 3];
        fold.push_back(static_cast<std::int16_t>(std::lround((raw[f] + raw[f + 4] + common) / 4.0)));
        fold.push_back(static_cast<std::int16_t>(std::lround((raw[f + 1] + raw[f + 5] + common) / 4.0)));
    }
    for (const auto* bytes : {&wavBytes, &flacBytes}) {
        const char* name = bytes == &wavBytes ? "six.wav" : "six.flac";
        SCOPED_TRACE(name);
        auto sound = OpenDecodedSound(MemoryFile(*bytes), name);
        ASSERT_TRUE(sound);
        EXPECT_STREQ(sound->DecoderName(), bytes == &wavBytes ? "wav" : "ffmpeg");
        ASSERT_EQ(sound->Channels(), 2);
        const auto got = ReadAll(*sound);
        ASSERT_EQ(got.size(), fold.size());
        int worst = 0;
        for (std::size_t i = 0; i < got.size(); ++i)
            worst = std::max(worst, std::abs(got[i] - fold[i]));
        EXPECT_LE(worst, 1);
    }
    // The centre alone, at half scale: a quarter of it on each side, 4096 at its peaks.
    auto centre = OpenDecodedSound(MemoryFile(make("0|0|0.5*sin(2*PI*441*t)|0|0|0", "centre.wav")), "centre.wav");
    ASSERT_TRUE(centre);
    const auto got = ReadAll(*centre);
    int peakLeft = 0, peakRight = 0;
    for (std::size_t i = 0; i + 1 < got.size(); i += 2) {
        peakLeft = std::max(peakLeft, std::abs(static_cast<int>(got[i])));
        peakRight = std::max(peakRight, std::abs(static_cast<int>(got[i + 1])));
        ASSERT_EQ(got[i], got[i + 1]) << i;
    }
    EXPECT_NEAR(peakLeft, 32767 * 0.5 / 4, 2);
    EXPECT_EQ(peakLeft, peakRight);
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace kiv
