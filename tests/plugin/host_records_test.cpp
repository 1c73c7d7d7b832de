#include "plugin/host_records.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace {

// A record as the host writes it: filler bytes, and at the offset the pointer's value as a
// little-endian word of the build's pointer width (4 bytes on the 32-bit target). The record
// ends with the word, so a reader that read further would leave it (and fail the sanitizers).
std::vector<unsigned char> hostRecord(int offset, const void* pointer) {
    std::vector<unsigned char> record(offset + sizeof(void*), 0xCC);
    const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(pointer);
    for (std::size_t i = 0; i < sizeof(void*); ++i) record[offset + i] = static_cast<unsigned char>(value >> (8 * i));
    return record;
}

void* lookupNothing(const char*) { return nullptr; }

TEST(HostRecords, ReadersTakeThePointerWordAtTheHostOffsets) {
#if defined(__i386__) || defined(_M_IX86)
    static_assert(sizeof(void*) == 4, "the 32-bit target's host words are 4 bytes");
#endif
    const char* chars = "patterns/a.pat";
    std::vector<unsigned char> string = hostRecord(12, chars);
    EXPECT_EQ(zelk::hostStringChars(reinterpret_cast<const HostString*>(string.data())), chars);

    const auto* texture = reinterpret_cast<IDirect3DTexture9*>(std::uintptr_t{0x12345670});
    std::vector<unsigned char> bitmap = hostRecord(36, texture);
    EXPECT_EQ(zelk::hostBitmapTexture(reinterpret_cast<const HostBitmap*>(bitmap.data())), texture);

    std::vector<unsigned char> record = hostRecord(2608, reinterpret_cast<const void*>(&lookupNothing));
    EXPECT_EQ(zelk::hostInterfaceLookup(reinterpret_cast<const HostInterface*>(record.data())), &lookupNothing);
}

class FixedFromDouble : public testing::TestWithParam<std::pair<double, HostFixed>> {};

// Truncation toward zero, saturation at the int32 range, NaN to 0.
TEST_P(FixedFromDouble, IsDefinedForEveryInput) {
    EXPECT_EQ(zelk::hostFixedFromDouble(GetParam().first), GetParam().second) << GetParam().first;
}

constexpr double INF = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(Values, FixedFromDouble,
                         testing::Values(std::make_pair(0.0, 0), std::make_pair(1.0, 1024), std::make_pair(-1.0, -1024),
                                         std::make_pair(-90.0, -92160), std::make_pair(2.75 / 1024, 2),
                                         std::make_pair(-2.75 / 1024, -2), std::make_pair(0.5 / 1024, 0),
                                         std::make_pair(2097151.999, 2147483646), std::make_pair(2097152.0, INT32_MAX),
                                         std::make_pair(-2097152.0, INT32_MIN), std::make_pair(-2097153.0, INT32_MIN),
                                         std::make_pair(1e300, INT32_MAX), std::make_pair(-1e300, INT32_MIN),
                                         std::make_pair(INF, INT32_MAX), std::make_pair(-INF, INT32_MIN),
                                         std::make_pair(std::nan(""), 0), std::make_pair(-std::nan(""), 0)));

TEST(FixedFromInt, ShiftsByTenBitsForNegativesToo) {
    EXPECT_EQ(zelk::hostFixedFromInt(0), 0);
    EXPECT_EQ(zelk::hostFixedFromInt(640), 655360);
    EXPECT_EQ(zelk::hostFixedFromInt(-1), -1024);
    EXPECT_EQ(zelk::hostFixedFromInt(-2097152), INT32_MIN);
    EXPECT_EQ(zelk::hostFixedFromInt(2097151), 2147482624);
}

}  // namespace
