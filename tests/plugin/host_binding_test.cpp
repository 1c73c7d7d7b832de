#include "plugin/host_binding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plugin/host_function_names.h"
#include "tests/plugin/host_record_buffer.h"

namespace {

std::vector<std::string> lookedUp;
char addresses[zelk::HOST_LOOKUP_COUNT];

// Answers each call with its own address, so every slot can be told apart.
void* recordingLookup(const char* name) {
    if (lookedUp.size() == sizeof addresses) return nullptr;
    lookedUp.push_back(name);
    return &addresses[lookedUp.size() - 1];
}

void* addressOfCall(const std::string& name) {
    for (size_t i = 0; i < lookedUp.size(); ++i)
        if (lookedUp[i] == name) return &addresses[i];
    return nullptr;
}

// The recorded addresses are data, not functions: a later test must not call them.
struct UnbindAtEnd {
    ~UnbindAtEnd() { A6_DLLAPI(nullptr); }
};

TEST(HostBinding, LooksUpEveryNameInOrderAndKeepsChrAndAngRotate) {
    UnbindAtEnd unbind;
    lookedUp.clear();
    TestHostInterface host(recordingLookup);
    EXPECT_EQ(A6_DLLAPI(host.get()), 630);
    ASSERT_EQ(lookedUp.size(), 409u);
    EXPECT_EQ(lookedUp.front(), "_chr");
    EXPECT_EQ(lookedUp.back(), "engine_debugstep");
    // The two names the host expects twice (1-based positions 89/398 and 109/129).
    EXPECT_EQ(lookedUp[88], "engine_getvar");
    EXPECT_EQ(lookedUp[397], "engine_getvar");
    EXPECT_EQ(lookedUp[108], "ent_nextlight");
    EXPECT_EQ(lookedUp[128], "ent_nextlight");
    EXPECT_EQ(reinterpret_cast<void*>(zelk::boundChr()), addressOfCall("_chr"));
    EXPECT_EQ(reinterpret_cast<void*>(zelk::boundAngRotate()), addressOfCall("ang_rotate"));
}

class UnusableHost : public testing::TestWithParam<bool> {};

// A host without a record or look-up still gets 630, and nothing stays bound.
TEST_P(UnusableHost, LeavesBothFunctionsUnbound) {
    UnbindAtEnd unbind;
    TestHostInterface good(recordingLookup), noLookup(nullptr);
    lookedUp.clear();
    ASSERT_EQ(A6_DLLAPI(good.get()), 630);
    ASSERT_NE(zelk::boundChr(), nullptr);
    lookedUp.clear();
    EXPECT_EQ(A6_DLLAPI(GetParam() ? noLookup.get() : nullptr), 630);
    EXPECT_TRUE(lookedUp.empty());
    EXPECT_EQ(zelk::boundChr(), nullptr);
    EXPECT_EQ(zelk::boundAngRotate(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Records, UnusableHost, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "NullLookup" : "NullRecord";
                         });

}  // namespace
