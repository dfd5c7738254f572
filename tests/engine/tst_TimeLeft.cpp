// The time a unit's operation has left, as both front ends show it: estimated only while
// bytes are moving, and printed as minutes and seconds.
#include "TimeLeft.h"

#include "TestPrinters.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(TimeLeft, IsEstimatedOnlyWhileBytesMove)
{
    const struct {
        const char* Name;
        qint64 Done, Total, ElapsedMs;
        std::optional<qint64> LeftMs;
    } cases[] = {
        {"half done", 500, 1000, 3000, 3000},
        {"a tenth done", 100, 1000, 1000, 9000},
        {"no byte yet", 0, 1000, 3000, std::nullopt},
        {"all done", 1000, 1000, 3000, std::nullopt},
        {"past the total", 1200, 1000, 3000, std::nullopt},
        {"no total", 0, 0, 3000, std::nullopt},
        {"no time gone", 500, 1000, 0, std::nullopt},
        // 2 GiB images at hours' pace stay in range.
        {"large", qint64(1) << 30, qint64(1) << 31, 3'600'000, 3'600'000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimeLeftMs(c.Done, c.Total, c.ElapsedMs), c.LeftMs) << c.Name;
}

TEST(TimeLeft, SpansReadAsMinutesAndSeconds)
{
    const struct {
        qint64 Ms;
        const char* Text;
    } cases[] = {{0, "0:00"}, {999, "0:00"}, {7000, "0:07"}, {187'000, "3:07"}, {6'000'000, "100:00"}, {-5000, "0:00"}};
    for (const auto& c : cases)
        EXPECT_EQ(MinutesText(c.Ms), QLatin1String(c.Text)) << c.Ms;
}

}   // namespace
