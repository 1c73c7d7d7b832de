// zelk track: the plug-in loaded as the host loads it, run over a whole video source.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/apps/run_zelk.h"

namespace {

TEST(Track, RunsTheBundledSceneToItsEnd) {
    const ZelkRun run = runZelk("track");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("video 640 x 480, 3 patterns"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("frame  300 "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("\n300 frames, "), std::string::npos) << run.output;
    // The demo shows every bundled marker nearly all the time.
    const size_t summary = run.output.find("found: arrow ");
    ASSERT_NE(summary, std::string::npos) << run.output;
    int found[3];
    ASSERT_EQ(std::sscanf(run.output.c_str() + summary, "found: arrow %d, blocks %d, letter %d", &found[0], &found[1],
                          &found[2]),
              3)
        << run.output;
    for (const int frames : found) EXPECT_GE(frames, 270) << run.output.substr(summary);
}

TEST(Track, StopsAtTheFrameLimit) {
    const ZelkRun run = runZelk("track --quiet --frames 7 --pattern Data/patterns/arrow.pat");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_EQ(run.output.find("frame "), std::string::npos) << "--quiet prints no frame lines";
    EXPECT_NE(run.output.find("7 frames, "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("found: arrow "), std::string::npos) << run.output;
}

TEST(Track, ReportsASourceThatCannotBeOpened) {
    const ZelkRun run = runZelk("track --video /nonexistent/scene.xml");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("cannot open the video source"), std::string::npos) << run.output;
}

TEST(Track, ReportsAPatternThePlugInRefuses) {
    const ZelkRun run = runZelk("track --pattern /nonexistent/pattern.pat");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.output.find("did not accept the pattern"), std::string::npos) << run.output;
}

}  // namespace
