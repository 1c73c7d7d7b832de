// zelk track: the host engine's main loop. Registers the patterns, pumps Zelk_Update
// until the video source ends, and after every new frame asks where each pattern is.
//
// A frame counts as new when Zelk_getBmap locks the host bitmap's texture: the plug-in
// copies the picture only when Zelk_Update got one, exactly as a host that shows the
// camera picture would notice.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <thread>
#include <vector>

#include "apps/zelk/commands.h"
#include "apps/zelk/plugin_loader.h"
#include "platform/host/host.h"

namespace zelk::tool {

namespace {

struct TrackOptions {
    std::string video, camera;
    std::vector<std::string> patterns;
    int threshold = 100;
    int frames = 0;
    bool quiet = false;
};

struct Pattern {
    std::string name;
    int32_t id;
    int found = 0;
};

// A live source that delivers nothing for this long has stopped.
constexpr auto SOURCE_SILENCE = std::chrono::seconds(5);

std::vector<std::string> defaultPatterns() {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator("Data/patterns")) {
        if (entry.path().extension() == ".pat") paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

const char* initFailure(int32_t result) {
    switch (result) {
        case -1: return "cannot open the video source";
        case -2: return "cannot read the video size";
        case -3: return "cannot load the camera parameter file";
        default: return "the plug-in did not start";
    }
}

std::vector<Pattern> registerPatterns(const Plugin& plugin, const std::vector<std::string>& paths) {
    std::vector<Pattern> patterns;
    for (const auto& path : paths) {
        HostString name = host::makeString(path.c_str());
        const int32_t id = plugin.registerMarker(&name);
        if (id < 0) fail("the plug-in did not accept the pattern " + path);
        patterns.push_back({std::filesystem::path(path).stem().string(), id});
    }
    return patterns;
}

// One line: each pattern's position (x forward, y left, z up, in units of a marker
// width of 80) and angles (pan, tilt, roll in degrees), or "-" when it is not seen.
void queryPatterns(const Plugin& plugin, std::vector<Pattern>& patterns, int frame, bool quiet) {
    std::string line = cv::format("frame %4d ", frame);
    for (auto& pattern : patterns) {
        HostVector position{};
        HostAngle angles{};
        if (plugin.getMarker(pattern.id, &position, &angles, 0) != 0) {
            line += cv::format("  %s -", pattern.name.c_str());
            continue;
        }
        ++pattern.found;
        // Rounded to whole units as integers, which never print as "-0".
        auto whole = [](HostFixed value) { return static_cast<long>(std::lround(value / 1024.0)); };
        line += cv::format("  %s (%ld %ld %ld | %ld %ld %ld)", pattern.name.c_str(), whole(position.x),
                           whole(position.y), whole(position.z), whole(angles.pan), whole(angles.tilt),
                           whole(angles.roll));
    }
    if (!quiet) std::puts(line.c_str());
}

void track(const TrackOptions& options) {
    const Plugin plugin = loadPlugin();
    HostString video = host::makeString(options.video.c_str());
    HostString camera = host::makeString(options.camera.c_str());
    const int32_t started = plugin.init(options.video.empty() ? nullptr : &video,
                                        options.camera.empty() ? nullptr : &camera);
    if (started != 0) fail(initFailure(started));
    std::vector<Pattern> patterns =
        registerPatterns(plugin, options.patterns.empty() ? defaultPatterns() : options.patterns);

    const int width = plugin.getWidth() / 1024, height = plugin.getHeight() / 1024;
    host::Texture texture(width, height, width * 4);
    HostBitmap bitmap = host::makeBitmap(&texture);
    std::printf("video %d x %d, %zu patterns, threshold %d\n", width, height, patterns.size(), options.threshold);
    if (!options.quiet) std::puts("per pattern: (x y z | pan tilt roll), x forward, y left, z up, marker width 80");

    using Clock = std::chrono::steady_clock;
    Clock::duration updating{};
    auto lastFrame = Clock::now();
    int frames = 0;
    while ((options.frames <= 0 || frames < options.frames) && !plugin.videoAtEnd()) {
        const auto before = Clock::now();
        plugin.update(options.threshold);
        const auto after = Clock::now();
        const int locks = texture.lockCount;
        plugin.getBmap(&bitmap);
        if (texture.lockCount == locks) {
            if (after - lastFrame > SOURCE_SILENCE) fail("the video source delivers no frames");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        updating += after - before;
        lastFrame = after;
        queryPatterns(plugin, patterns, ++frames, options.quiet);
    }
    plugin.quit();

    const double milliseconds = std::chrono::duration<double, std::milli>(updating).count();
    std::string summary =
        cv::format("%d frames, %.2f ms per Zelk_Update; found:", frames, frames ? milliseconds / frames : 0.0);
    for (const auto& pattern : patterns) {
        summary += cv::format("%s %s %d", &pattern == &patterns.front() ? "" : ",", pattern.name.c_str(), pattern.found);
    }
    std::puts(summary.c_str());
}

}  // namespace

void addTrackCommand(CLI::App& app) {
    auto* command = app.add_subcommand("track", "track the patterns in a video source with the plug-in");
    auto options = std::make_shared<TrackOptions>();
    command->add_option("--video", options->video,
                        "video configuration file (default: the plug-in's, Data\\WDM_camera_flipV.xml)");
    command->add_option("--camera", options->camera,
                        "camera parameter file (default: the plug-in's, Data/camera_para.dat)");
    command->add_option("--pattern", options->patterns, "pattern file, repeatable (default: Data/patterns/*.pat)");
    command->add_option("--threshold", options->threshold, "binarisation threshold")->capture_default_str();
    command->add_option("--frames", options->frames, "stop after this many frames (default: at the source's end)");
    command->add_flag("-q,--quiet", options->quiet, "print only the summary");
    command->callback([options] { track(*options); });
}

}  // namespace zelk::tool
