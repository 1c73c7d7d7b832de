#include "plugin/host_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

namespace {

class FixedFromDouble : public testing::TestWithParam<std::pair<double, HostFixed>> {};

// Truncation toward zero, saturation at the int32 range, NaN to 0.
TEST_P(FixedFromDouble, IsDefinedForEveryInput) {
    EXPECT_EQ(zelk::hostFixedFromDouble(GetParam().first), GetParam().second) << GetParam().first;
}

constexpr double INF = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Values, FixedFromDouble,
    testing::Values(std::make_pair(0.0, 0), std::make_pair(1.0, 1024), std::make_pair(-1.0, -1024),
                    std::make_pair(-90.0, -92160), std::make_pair(2.75 / 1024, 2), std::make_pair(-2.75 / 1024, -2),
                    std::make_pair(0.5 / 1024, 0), std::make_pair(2097151.999, 2147483646),
                    std::make_pair(2097152.0, INT32_MAX), std::make_pair(-2097152.0, INT32_MIN),
                    std::make_pair(-2097153.0, INT32_MIN), std::make_pair(1e300, INT32_MAX),
                    std::make_pair(-1e300, INT32_MIN), std::make_pair(INF, INT32_MAX), std::make_pair(-INF, INT32_MIN),
                    std::make_pair(std::nan(""), 0), std::make_pair(-std::nan(""), 0)));

TEST(FixedFromInt, ShiftsByTenBitsForNegativesToo) {
    EXPECT_EQ(zelk::hostFixedFromInt(0), 0);
    EXPECT_EQ(zelk::hostFixedFromInt(640), 655360);
    EXPECT_EQ(zelk::hostFixedFromInt(-1), -1024);
    EXPECT_EQ(zelk::hostFixedFromInt(-2097152), INT32_MIN);
    EXPECT_EQ(zelk::hostFixedFromInt(2097151), 2147482624);
}

}  // namespace
