// Long runs through the shared library as the host drives it: a synthetic scene frame after
// frame, every pattern's pose asked for every frame, the picture copied now and then and
// the patterns freed and registered again every few thousand frames. The process's
// resident memory must stay flat once the run is warm.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/host/host.h"
#include "plugin/exports.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/marker_patterns.h"
#include "tests/support/paths.h"

namespace {

constexpr int PATTERNS = 3;
constexpr int WIDTH = 160, HEIGHT = 120;

// Resident memory in kB, from /proc/self/statm.
long residentKb() {
    long size = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &size, &resident) != 2) resident = 0;
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

struct SoakRun {
    int frames;
    int churnEvery;   // frames between freeing and registering a pattern again
    int warmFrames;   // frames before the starting memory figure
    bool flatMemory;  // checked unless a memory checker, whose own memory grows, runs it
};

// Runs the scene; every frame asks for each pattern's pose (alternately inverted).
void soak(const SoakRun& run) {
    std::vector<std::string> patterns;
    std::string markers;
    for (int i = 0; i < PATTERNS; i++) {
        patterns.push_back(scratchPath("soak" + std::to_string(i) + ".patt"));
        writePatternFile(patterns.back(), makePatternPicture(i));
        markers += "  <marker pattern=\"" + patterns.back() + "\" size=\"80\"/>\n";
    }
    const std::string config = scratchPath("soak.xml");
    writeTextFile(config, "<video><synthetic camera=\"" + sourcePath("Data/camera_para.dat") + "\" width=\"" +
                              std::to_string(WIDTH) + "\" height=\"" + std::to_string(HEIGHT) +
                              "\" frames=\"0\" supersample=\"1\" noise=\"2\" blur=\"0\" distance=\"250 600\">\n" +
                              markers + "</synthetic></video>\n");

    LoadedPlugin p;
    ASSERT_EQ(loadPlugin(pluginPath(), &p), "");
    ASSERT_EQ(p.dllapi(zelk::host::interfaceRecord()), 630);
    HostString video = zelk::host::makeString(config.c_str());
    const std::string cameraPath = sourcePath("Data/camera_para.dat");
    HostString camera = zelk::host::makeString(cameraPath.c_str());
    testing::internal::CaptureStdout();
    const int32_t started = p.init(&video, &camera);
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(started, 0);
    std::vector<HostString> names;
    for (const std::string& path : patterns) names.push_back(zelk::host::makeString(path.c_str()));
    for (int i = 0; i < PATTERNS; i++) ASSERT_EQ(p.registerMarker(&names[i]), i);

    zelk::host::Texture texture(WIDTH, HEIGHT, WIDTH * 4);
    HostBitmap bitmap = zelk::host::makeBitmap(&texture);
    long startKb = 0, peakKb = 0;
    int found = 0;
    for (int frame = 0; frame < run.frames; frame++) {
        ASSERT_EQ(p.update(100), 0) << "frame " << frame;
        for (int id = 0; id < PATTERNS; id++) {
            HostVector position;
            HostAngle angles;
            if (p.getMarker(id, &position, &angles, frame % 2) == 0) found++;
        }
        if (frame % 100 == 0) p.getBmap(&bitmap);
        if (frame % run.churnEvery == run.churnEvery - 1) {
            const int id = (frame / run.churnEvery) % PATTERNS;
            ASSERT_EQ(p.freeMarker(id), 1);
            ASSERT_EQ(p.registerMarker(&names[id]), id);
        }
        if (frame == run.warmFrames) startKb = residentKb();
        if (frame >= run.warmFrames && frame % 1000 == 0) peakKb = std::max(peakKb, residentKb());
    }
    const long endKb = residentKb();
    std::printf(
        "%d frames: resident memory %ld kB after %d frames, %ld kB at the end, %ld kB at most; "
        "%d poses found of %d asked\n",
        run.frames, startKb, run.warmFrames, endKb, std::max(peakKb, endKb), found, run.frames * PATTERNS);
    EXPECT_GT(found, run.frames / 2);  // the scene is seen, so the whole pipeline runs
    if (run.flatMemory) {
        EXPECT_LE(endKb - startKb, 256);
    }
    EXPECT_EQ(p.quit(), 0);
    unloadPlugin(&p);
    for (const std::string& path : patterns) std::remove(path.c_str());
    std::remove(config.c_str());
}

TEST(Soak, HundredThousandFrames) { soak(SoakRun{100000, 2500, 1000, true}); }

// Short enough for a memory checker, which accounts for every allocation itself.
TEST(Soak, ShortRun) { soak(SoakRun{400, 100, 50, false}); }

}  // namespace
