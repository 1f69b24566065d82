#include "audio/VolumeEnvelope.h"

#include "audio/SampleRound.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

namespace kiv {
namespace {

// 65536 is full volume; 44100 frames are one second.
TEST(VolumeParams, FramesBecomeMillisecondsAndFixedPointPerMille) {
    const TVolumeParams points = ParseVolumeParams("0:65536,44100:32768,88200:0", 0, 5000);
    EXPECT_EQ(points, (TVolumeParams{{0, 1000}, {1000, 500}, {2000, 0}}));
}

TEST(VolumeParams, TimesStayStrictlyIncreasing) {
    // "22.05" is not an integer position: that pair is skipped. 66150 frames are 1500 ms; 441
    // frames (10 ms) would go back and is moved to just after 1500.
    const TVolumeParams points =
        ParseVolumeParams("22.05:65536,0:65536,66150:65536,441:65536,0:0", 0, 100000);
    const std::vector<std::int64_t> times{0, 1500, 1501, 1502};
    ASSERT_EQ(points.size(), times.size());
    for (std::size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(points[i].time, times[i]) << i;
}

TEST(VolumeParams, RoundingIsToTheNearestWithHalvesToEven) {
    // 22 frames = 0.4988 ms -> 0; 66 frames = 1.4966 ms -> 1 (then forced to 1 anyway); 67 -> 2.
    const TVolumeParams points = ParseVolumeParams("22:65536,66:65536,110:65536", 0, 1000);
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[0].time, 0);
    EXPECT_EQ(points[1].time, 1);
    EXPECT_EQ(points[2].time, 2); // 2.494 ms
    // 4096 / 65536 x 1000 = 62.5 -> 62; 12288 -> 187.5 -> 188; 98304 -> 1500.
    EXPECT_EQ(ParseVolumeParams("0:4096", 0, 10)[0].volume, 62);
    EXPECT_EQ(ParseVolumeParams("0:12288", 0, 10)[0].volume, 188);
    EXPECT_EQ(ParseVolumeParams("0:98304", 0, 10)[0].volume, 1500);
}

TEST(VolumeParams, TimesAreRelativeToTheItemsStartInItsFile) {
    const TVolumeParams points = ParseVolumeParams("44100:65536,88200:0", 500, 5000);
    EXPECT_EQ(points, (TVolumeParams{{500, 1000}, {1500, 0}}));
}

TEST(VolumeParams, APointBeyondTheEndIsInterpolatedAtTheEndAndLaterOnesDropped) {
    // From (1000 ms, 1000) to (3000 ms, 0): at 2000 ms the volume is 500.
    const TVolumeParams points = ParseVolumeParams("44100:65536,132300:0,176400:65536", 0, 2000);
    EXPECT_EQ(points, (TVolumeParams{{1000, 1000}, {2000, 500}}));
    // Without a point before it the point keeps its own volume.
    EXPECT_EQ(ParseVolumeParams("441000:32768", 0, 2000), (TVolumeParams{{2000, 500}}));
    // A point exactly at the end is replaced by itself.
    EXPECT_EQ(ParseVolumeParams("0:0,88200:65536", 0, 2000), (TVolumeParams{{0, 0}, {2000, 1000}}));
}

TEST(VolumeParams, UnreadablePairsAreSkippedAndCounted) {
    int bad = 0;
    const TVolumeParams points = ParseVolumeParams("x:1,44100,:5,44100:65536,1:2:3", 0, 5000, &bad);
    EXPECT_EQ(points, (TVolumeParams{{1000, 1000}}));
    EXPECT_EQ(bad, 4);
    EXPECT_TRUE(ParseVolumeParams("", 0, 5000).empty());
}

TEST(VolumeParams, HugePositionsDoNotOverflow) {
    const TVolumeParams points =
        ParseVolumeParams("9223372036854775807:65536,-9223372036854775807:1", 0, 1000);
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].time, 1000);
}

TEST(EdgeEnvelope, StartsAndEndsSilentOverTenMilliseconds) {
    EXPECT_EQ(EdgeEnvelope(5000), (TVolumeParams{{0, 0}, {10, 1000}, {4990, 1000}, {5000, 0}}));
}

TEST(PrepareEnvelope, PointsOutOfOrderAreSortedAndTheLaterOfEqualTimesWins) {
    const TVolumeParams points{{1000, 500}, {0, 0}, {1000, 800}};
    const std::vector<TEnvelopeStep> steps = PrepareEnvelope(points, 2000);
    // 1000 ms = 44100 frames = 176400 bytes; the added point at the length keeps the last volume.
    EXPECT_EQ(steps, (std::vector<TEnvelopeStep>{{0, 0}, {176400, 800}, {352800, 800}}));
}

TEST(PrepareEnvelope, BytePositionsRoundDownToWholeFrames) {
    // 1 ms = 44.1 frames -> 44 frames = 176 bytes; 3 ms = 132.3 frames -> 132 frames = 528 bytes.
    const std::vector<TEnvelopeStep> steps = PrepareEnvelope({{1, 100}, {3, 200}}, 3);
    EXPECT_EQ(steps, (std::vector<TEnvelopeStep>{{176, 100}, {528, 200}}));
    for (const TEnvelopeStep& step : PrepareEnvelope({{-1, 0}, {7, 1000}}, 7))
        EXPECT_EQ(step.bytePosition % 4, 0);
    EXPECT_EQ(PrepareEnvelope({{-1, 0}}, 0).front().bytePosition, -180); // floor of -176.4 bytes to a frame
    EXPECT_TRUE(PrepareEnvelope({}, 1000).empty());
}

TEST(PrepareEnvelope, VolumeIsLinearBetweenStepsAndFlatOutside) {
    const std::vector<TEnvelopeStep> steps = PrepareEnvelope({{0, 0}, {1000, 1000}}, 2000);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt(steps, -400), 0);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt(steps, 0), 0);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt(steps, 88200), 500);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt(steps, 176400), 1000);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt(steps, 300000), 1000);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt(steps, 999999), 1000);
    EXPECT_DOUBLE_EQ(EnvelopeVolumeAt({}, 5), 1000);
}

// The block path must give every frame the value of the per-frame formula, bit for bit: at, before
// and after each step, on ramps of every length, across holds, jumps (two steps at one position) and
// blocks that start anywhere and end anywhere.
TEST(PrepareEnvelope, BlockGainsEqualThePerFrameVolumeOverRampsHoldsAndEdges) {
    const std::vector<std::vector<TEnvelopeStep>> envelopes = {
        PrepareEnvelope(EdgeEnvelope(1000), 1000),
        PrepareEnvelope({{0, 0}, {2000, 800}, {60000, 800}, {63000, 0}}, 63000),
        PrepareEnvelope({{-5, 300}, {1, 700}, {3, 700}, {4, 1300}, {7, 1}}, 9),
        {{0, 1000}, {400, 1000}, {400, 300}, {412, 0}, {424, 0}, {436, 2000000000}}, // jump, 3-frame ramps
        {{8, 1000}, {12, 0}, {16, 1000}, {20, -1000}, {32, 999}},                    // one-frame ramps
        {{100, 250}},
        {},
    };
    const std::vector<std::int64_t> starts = {-40, -4, 0, 4, 8, 12, 16, 176, 396, 400, 404, 408, 412,
                                              420, 424, 432, 436, 440, 44100 * 4, 352800 + 4, 11113 * 4};
    for (std::size_t e = 0; e < envelopes.size(); ++e) {
        const std::vector<TEnvelopeStep>& steps = envelopes[e];
        for (const std::int64_t start : starts) {
            for (const int count : {1, 2, 3, 5, 221, 4000}) {
                std::vector<double> gains(static_cast<std::size_t>(count), 1.0);
                MultiplyEnvelopeGains(steps, start, count, gains.data());
                const std::optional<double> hold = EnvelopeHoldVolume(steps, start, count);
                for (int i = 0; i < count; ++i) {
                    const double volume = EnvelopeVolumeAt(steps, start + 4 * i);
                    const double expected = volume / 1000.0;
                    // Bit for bit: the mix rounds these products.
                    ASSERT_EQ(std::memcmp(&gains[static_cast<std::size_t>(i)], &expected, sizeof expected), 0)
                        << "envelope " << e << " start " << start << " count " << count << " frame " << i
                        << ": " << gains[static_cast<std::size_t>(i)] << " != " << expected;
                    // A hold is only said of a block whose frames all have its volume.
                    if (hold) {
                        ASSERT_EQ(*hold, volume) << "envelope " << e << " start " << start << " frame " << i;
                    }
                }
            }
        }
    }
    // A block inside a hold, up to its last frame, has its volume; one frame more reaches the ramp.
    const std::int64_t holdEnd = envelopes[1][2].bytePosition; // 60 s
    EXPECT_EQ(EnvelopeHoldVolume(envelopes[1], 10000 * 176, 221), 800.0);
    EXPECT_EQ(EnvelopeHoldVolume(envelopes[1], holdEnd - 220 * 4, 221), 800.0);
    EXPECT_FALSE(EnvelopeHoldVolume(envelopes[1], holdEnd - 219 * 4, 221));
    EXPECT_FALSE(EnvelopeHoldVolume(envelopes[1], 1999 * 176, 221));
    EXPECT_EQ(EnvelopeHoldVolume(envelopes[1], envelopes[1].back().bytePosition + 4, 5000), 0.0); // after the end
    EXPECT_EQ(EnvelopeHoldVolume({}, 0, 221), 1000.0);
    // The factors multiply into what is there.
    std::vector<double> twice(3, 0.5);
    MultiplyEnvelopeGains({{0, 500}}, 0, 3, twice.data());
    EXPECT_EQ(twice, (std::vector<double>{0.25, 0.25, 0.25}));
}

// Scaled samples round as std::lround rounds them, halves away from zero, up to the far range;
// mixed sums clamp to 16 bits, in whole groups and in the rest after them.
TEST(SampleRound, RoundsLikeTheLibraryEverywhereAndClampsToSixteenBits) {
    const double tricky[] = {0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 0.49999999999999994,
                             -0.49999999999999994, 0.5000000000000001, 32767.5, -32768.5, 2147483647.5,
                             -2147483648.5, 4503599627370495.5, -4503599627370495.5, 4503599627370496.0,
                             9007199254740993.0, 1e18, -1e18};
    for (const double value : tricky)
        EXPECT_EQ(RoundHalfAway(value), std::lround(value)) << value;
    // Every sample at gains near the ones the mix uses (ramps pass through all of them).
    for (const double gain : {0.8, 0.3333333333333333, 0.0012345, 1.0100001, 65534.9, 0.5, 0.25})
        for (int sample = -32768; sample <= 32767; sample += 7)
            ASSERT_EQ(RoundHalfAway(sample * gain), std::lround(sample * gain)) << sample << " x " << gain;
    const std::vector<std::int32_t> sums = {0,      1,      -1,         32767,     32768,  -32768, -32769, 2147483647,
                                            -2147483647 - 1, 40000, -40000, 12345, -12345, 65535, -65536, 7,
                                            32766,  -32767, 100000, -7};
    for (std::size_t count = 0; count <= sums.size(); ++count) {
        std::vector<std::int16_t> out(count + 1, 99);
        ClampTo16(sums.data(), out.data(), count);
        for (std::size_t i = 0; i < count; ++i)
            ASSERT_EQ(out[i], std::clamp(sums[i], -32768, 32767)) << count << " " << i;
        EXPECT_EQ(out[count], 99); // nothing written past the end
    }
}

} // namespace
} // namespace kiv
