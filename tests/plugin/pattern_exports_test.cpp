#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "detect/pattern_library.h"
#include "plugin/exports.h"
#include "plugin/host_records.h"
#include "plugin/marker_query.h"
#include "tests/plugin/host_record_buffer.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

namespace {

const char* hostChr(HostString* string) { return zelk::hostStringChars(string); }
const char* nullChr(HostString*) { return nullptr; }

void* (*chrToBind)(const char*);
void* lookupWith(const char* name) {
    return std::strcmp(name, "_chr") == 0 ? reinterpret_cast<void*>(chrToBind) : nullptr;
}

class PatternExports : public ::testing::Test {
protected:
    void SetUp() override {
        freeAll();
        path = scratchPath("pattern.patt");
        writePatternFile(path, makePatternPicture(0));
    }
    void TearDown() override {
        freeAll();
        bind(hostChr);
    }
    static void freeAll() {
        for (int id = 0; id < zelk::PATTERN_SLOTS; id++) Zelk_freeMarker(id);
    }
    static void bind(const char* (*chr)(HostString*)) {
        chrToBind = reinterpret_cast<void* (*)(const char*)>(chr);
        TestHostInterface host(lookupWith);
        A6_DLLAPI(host.get());
    }
    std::string path;
};

// A pattern registered into a freed slot does not inherit the width set for the one before.
TEST_F(PatternExports, ARegisteredSlotStartsAtTheDefaultWidth) {
    bind(hostChr);
    TestHostString name(path.c_str());
    ASSERT_EQ(Zelk_registerMarker(name.get()), 0);
    ASSERT_EQ(Zelk_setMarkerWidth(0, 50 * 1024), 0);
    EXPECT_EQ(zelk::patternWidth(0), 50.0);
    ASSERT_EQ(Zelk_freeMarker(0), 1);
    EXPECT_EQ(Zelk_setMarkerWidth(0, 50 * 1024), -2);
    ASSERT_EQ(Zelk_registerMarker(name.get()), 0);
    EXPECT_EQ(zelk::patternWidth(0), zelk::MARKER_WIDTH);
}

TEST_F(PatternExports, RegisterReturnsPlainSlotIdsAndFreeReleasesThem) {
    bind(hostChr);
    TestHostString name(path.c_str());
    EXPECT_EQ(Zelk_registerMarker(name.get()), 0);
    EXPECT_EQ(Zelk_registerMarker(name.get()), 1);
    EXPECT_EQ(Zelk_freeMarker(0), 1);
    EXPECT_EQ(Zelk_freeMarker(0), -1);
    EXPECT_EQ(Zelk_registerMarker(name.get()), 0);
}

TEST_F(PatternExports, FreeRefusesIdsOutsideTheLibrary) {
    for (int32_t id : {-1, 50, INT32_MIN, INT32_MAX}) EXPECT_EQ(Zelk_freeMarker(id), -1) << id;
}

TEST_F(PatternExports, RegisterWithoutAUsableStringFails) {
    TestHostString name(path.c_str());
    bind(hostChr);
    EXPECT_EQ(Zelk_registerMarker(nullptr), -1);
    bind(nullChr);
    EXPECT_EQ(Zelk_registerMarker(name.get()), -1);
    A6_DLLAPI(nullptr);  // nothing bound
    EXPECT_EQ(Zelk_registerMarker(name.get()), -1);
    bind(hostChr);
    EXPECT_EQ(Zelk_registerMarker(name.get()), 0);  // none of the failures used a slot
}

}  // namespace
