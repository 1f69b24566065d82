// The start-up's own helpers.
#include "app/StartUp.h"

#include <gtest/gtest.h>

namespace kiv {
namespace {

TEST(ShowDuration, MinutesSecondsAndTenths) {
    EXPECT_EQ(FormatShowDuration(64000), "1:04.0");
    EXPECT_EQ(FormatShowDuration(0), "0:00.0");
    EXPECT_EQ(FormatShowDuration(59999), "1:00.0");
    EXPECT_EQ(FormatShowDuration(4999), "0:05.0");
    EXPECT_EQ(FormatShowDuration(3723400), "62:03.4");
    EXPECT_EQ(FormatShowDuration(-5), "0:00.0");
}

} // namespace
} // namespace kiv
