// zelk track: the host engine's main loop. Registers the patterns, pumps Zelk_Update
// until the video source ends, and after every new frame asks where each pattern is.
//
// A frame counts as new when Zelk_getBmap locks the host bitmap's texture: the plug-in
// copies the picture only when Zelk_Update got one, exactly as a host that shows the
// camera picture would notice.
//
// --invert, the held-back printout, --still and several inputs at once: docs/design.md
// (Decisions).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "apps/zelk/arguments.h"
#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"
#include "apps/zelk/overlay.h"
#include "apps/zelk/plugin_loader.h"
#include "platform/host/host.h"

namespace zelk::tool {

namespace {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;
using Clock = std::chrono::steady_clock;

struct TrackOptions {
    std::vector<std::string> videos;  // several: each tracked by itself
    std::string videoList;            // a file naming more, one a line
    int jobs = 1;
    std::string video, camera;
    std::vector<std::string> patterns;
    std::vector<std::string> boards;
    std::vector<std::string> widths;  // [name=]width
    int threshold = 100;
    bool autoThreshold = false;  // --threshold auto
    bool invert = false, still = false;
    bool precise = false, smooth = false;
    int frames = 0;
    std::string poses, overlay, videoOut;
    bool quiet = false;
};

struct Pattern {
    std::string path, name;
    int32_t id;
    int found = 0;
    double confidenceSum = 0, fitErrorSum = 0;
};

struct Board {
    std::string path, name;
    int32_t id;
    int found = 0;
    double fitErrorSum = 0;
};

// The plug-in's own defaults, for the messages.
const char* const DEFAULT_VIDEO = "Data\\WDM_camera_flipV.xml";
const char* const DEFAULT_CAMERA = "Data/camera_para.dat";
const char* const PATTERN_FOLDER = "Data/patterns";
// A live source that delivers nothing for this long has stopped.
constexpr auto SOURCE_SILENCE = std::chrono::seconds(5);
constexpr auto PROGRESS_EVERY = std::chrono::milliseconds(200);
constexpr double OUTPUT_FPS = 30;

// Runs the call with standard output and error going to a scratch file; returns what it printed.
std::string captureOutput(const std::function<void()>& call) {
    std::fflush(stdout);
    std::fflush(stderr);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> sink(std::tmpfile(), std::fclose);
    const int savedOut = dup(1), savedErr = dup(2);
    if (!sink || savedOut < 0 || savedErr < 0) {
        call();
        return "";
    }
    dup2(fileno(sink.get()), 1);
    dup2(fileno(sink.get()), 2);
    call();
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(savedOut, 1);
    dup2(savedErr, 2);
    close(savedOut);
    close(savedErr);
    std::rewind(sink.get());
    std::string text;
    char chunk[512];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, sink.get())) > 0;) text.append(chunk, got);
    return text;
}

// The last non-empty line of the plug-in's output, without the video library's prefix,
// as ": reason" (empty when there is none).
std::string reason(const std::string& printed) {
    const size_t end = printed.find_last_not_of("\r\n");
    if (end == std::string::npos) return "";
    const size_t newline = printed.rfind('\n', end);
    const size_t begin = newline == std::string::npos ? 0 : newline + 1;
    std::string line = printed.substr(begin, end + 1 - begin);
    const std::string prefix = "videocapture: ";
    if (line.rfind(prefix, 0) == 0) line.erase(0, prefix.size());
    return ": " + line;
}

void requireFile(const std::string& path, const char* what) {
    std::string local = path;
    std::replace(local.begin(), local.end(), '\\', '/');  // as the plug-in reads its paths
    if (!fs::is_regular_file(local)) fail(std::string("no such ") + what + ": " + path);
}

std::vector<std::string> defaultPatterns() {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(PATTERN_FOLDER, error)) {
        if (entry.path().extension() == ".patt") paths.push_back(entry.path().string());
    }
    if (paths.empty())
        fail(std::string("no patterns: ") + PATTERN_FOLDER +
             "/*.patt is not here (run zelk from the repository root, or give --pattern)");
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::string initFailure(int32_t result, const TrackOptions& options, const std::string& printed) {
    const std::string video = options.video.empty() ? DEFAULT_VIDEO : options.video;
    const std::string camera = options.camera.empty() ? DEFAULT_CAMERA : options.camera;
    switch (result) {
        case -1: return "cannot open the video source " + video + reason(printed);
        case -2: return "the video source " + video + " has no frame size the plug-in takes (1 to 1,048,576 pixels)";
        case -3: return "cannot load the camera parameter file " + camera + reason(printed);
        default: return "the plug-in did not start (Zelk_Init returned " + std::to_string(result) + ")";
    }
}

void startPlugin(const Plugin& plugin, const TrackOptions& options) {
    if (options.video.empty())
        requireFile(DEFAULT_VIDEO, "bundled video configuration (run zelk from the repository root)");
    HostString video = host::makeString(options.video.c_str());
    HostString camera = host::makeString(options.camera.c_str());
    int32_t started = 0;
    const std::string printed = captureOutput([&] {
        started = plugin.init(options.video.empty() ? nullptr : &video, options.camera.empty() ? nullptr : &camera);
    });
    if (started != 0) fail(initFailure(started, options, printed));
    plugin.setPrecise(options.precise ? 1 : 0);
    plugin.setSmoothing(options.smooth ? 1 : 0);
}

// Registers each file with the plug-in's registration export: the id, or a failure that
// names the file and what the plug-in printed.
template <typename Entry>
std::vector<Entry> registerFiles(int32_t (*registration)(HostString*), const std::vector<std::string>& paths,
                                 const std::string& what, const std::string& hint = "") {
    std::vector<Entry> entries;
    for (const auto& path : paths) {
        HostString name = host::makeString(path.c_str());
        int32_t id = -1;
        const std::string printed = captureOutput([&] { id = registration(&name); });
        if (id < 0) fail("the plug-in did not load the " + what + " " + path + hint + reason(printed));
        entries.push_back({path, fs::path(path).stem().string(), id});
    }
    return entries;
}

// Hands the plug-in each pattern's printed width: "name=width" for the pattern of that name
// (file name without extension), a bare width for every pattern.
void setWidths(const Plugin& plugin, const std::vector<Pattern>& patterns, const std::vector<std::string>& widths) {
    for (const std::string& given : widths) {
        const size_t equals = given.rfind('=');
        const std::string name = equals == std::string::npos ? "" : given.substr(0, equals);
        const std::string number = given.substr(equals == std::string::npos ? 0 : equals + 1);
        char* end = nullptr;
        const double width = std::strtod(number.c_str(), &end);
        if (number.empty() || *end != '\0' || !(width > 0) || width > 1e6)
            fail("--width takes [pattern=]width with a width above 0 and at most 1000000, not " + given);
        bool named = false;
        for (const Pattern& pattern : patterns) {
            if (!name.empty() && pattern.name != name) continue;
            named = true;
            plugin.setMarkerWidth(pattern.id, static_cast<HostFixed>(std::lround(width * 1024)));
        }
        if (!named) fail("--width names no registered pattern: " + name);
    }
}

const Pattern* patternWithId(const std::vector<Pattern>& patterns, int32_t id) {
    for (const auto& pattern : patterns)
        if (pattern.id == id) return &pattern;
    return nullptr;
}

Json pointJson(const double point[2]) { return Json::array({point[0], point[1]}); }

Json markerJson(const ZelkMarkerInfo& marker, int32_t carriedOver) {
    Json corners = Json::array();
    for (const auto& corner : marker.corners) corners.push_back(pointJson(corner));
    return Json{{"patternId", marker.patternId},      {"direction", marker.direction},
                {"confidence", marker.confidence},    {"area", marker.area},
                {"centre", pointJson(marker.centre)}, {"corners", corners},
                {"carriedOver", carriedOver}};
}

// A pose entry: what it is the pose of, then the pose.
Json poseJson(Json entry, const double matrix[12], double fitError, const HostVector& position,
              const HostAngle& angles) {
    Json rows = Json::array();
    for (int r = 0; r < 3; r++)
        rows.push_back(Json::array({matrix[4 * r], matrix[4 * r + 1], matrix[4 * r + 2], matrix[4 * r + 3]}));
    entry["fitError"] = fitError;
    entry["matrix"] = rows;
    entry["position"] = Json::array({position.x / 1024.0, position.y / 1024.0, position.z / 1024.0});
    entry["angles"] = Json::array({angles.pan / 1024.0, angles.tilt / 1024.0, angles.roll / 1024.0});
    return entry;
}

// Each board's pose from its markers in view, where one is found.
Json boardPoses(const Plugin& plugin, std::vector<Board>& boards, bool invert, std::string* seen) {
    Json poses = Json::array();
    for (Board& board : boards) {
        HostVector position{};
        HostAngle angles{};
        double matrix[12], fitError = 0;
        if (plugin.getBoard(board.id, &position, &angles, invert ? 1 : 0) != 0) continue;
        if (plugin.getLastPose(matrix, &fitError) != 0) continue;
        ++board.found;
        board.fitErrorSum += fitError;
        poses.push_back(poseJson(
            Json{{"boardId", board.id}, {"board", board.path}, {"markers", plugin.getBoardMarkerCount(board.id)}},
            matrix, fitError, position, angles));
        *seen += " " + board.name;
    }
    return poses;
}

// Output files may go into folders that do not exist yet, as out/ on a fresh clone.
void makeParentFolder(const std::string& file) {
    std::error_code ignored;  // opening the file reports the failure
    const fs::path parent = fs::path(file).parent_path();
    if (!parent.empty()) fs::create_directories(parent, ignored);
}

// Where the annotated frames and the poses go.
class Outputs {
public:
    Outputs(const TrackOptions& options, const Plugin& plugin, int width, int height) : options_(options) {
        if (options.poses == "-") {
            poses_ = stdout;
        } else if (!options.poses.empty()) {
            makeParentFolder(options.poses);
            poses_ = std::fopen(options.poses.c_str(), "w");
            if (!poses_) fail("cannot write the poses file " + options.poses);
        }
        if (!options.overlay.empty()) {
            std::error_code error;
            fs::create_directories(options.overlay, error);
            if (!fs::is_directory(options.overlay)) fail("cannot make the overlay folder " + options.overlay);
        }
        if (!options.videoOut.empty()) {
            makeParentFolder(options.videoOut);
            if (!video_.open(options.videoOut, OUTPUT_FPS, cv::Size(width, height)))
                fail("cannot write the video " + options.videoOut);
        }
        if (drawing() && plugin.getCamera(&camera_.projection[0][0], camera_.distortion) != 0)
            fail("the plug-in has no camera to draw with");
    }
    ~Outputs() {
        if (poses_ && poses_ != stdout) std::fclose(poses_);
    }
    bool drawing() const { return !options_.overlay.empty() || !options_.videoOut.empty(); }
    void writePoses(const Json& line) {
        if (!poses_) return;
        const std::string text = line.dump() + "\n";
        if (std::fwrite(text.data(), 1, text.size(), poses_) != text.size())
            fail("cannot write the poses to " + options_.poses);
    }
    void writeOverlay(const cv::Mat& bgra, const std::vector<OverlayMarker>& markers, int frame) {
        cv::Mat picture;
        cv::cvtColor(bgra, picture, cv::COLOR_BGRA2BGR);
        drawOverlay(picture, camera_, markers, frame);
        if (!options_.overlay.empty()) {
            const std::string file = (fs::path(options_.overlay) / cv::format("frame_%06d.png", frame)).string();
            if (!writePicture(file, picture)) fail("cannot write " + file);
        }
        if (video_.isOpen()) video_.write(picture);
    }

private:
    const TrackOptions& options_;
    std::FILE* poses_ = nullptr;
    VideoFile video_;
    OverlayCamera camera_{};
};

// Everything the plug-in reports about the current frame, written where it is asked for.
// Returns the names of the patterns found, for the progress line.
std::string reportFrame(const Plugin& plugin, std::vector<Pattern>& patterns, std::vector<Board>& boards,
                        const TrackOptions& options, Outputs& outputs, const host::Texture& texture, int frame) {
    std::vector<ZelkMarkerInfo> markers(std::max(0, plugin.getMarkerCount()));
    for (size_t i = 0; i < markers.size(); i++) plugin.getMarkerInfo(static_cast<int32_t>(i), &markers[i]);

    Json markerList = Json::array(), poses = Json::array();
    for (size_t i = 0; i < markers.size(); i++) {
        int32_t carriedOver = 0;
        plugin.getMarkerCarriedOver(static_cast<int32_t>(i), &carriedOver);
        markerList.push_back(markerJson(markers[i], carriedOver));
    }
    std::string seen;
    for (auto& pattern : patterns) {
        HostVector position{};
        HostAngle angles{};
        double matrix[12], fitError = 0;
        if (plugin.getMarker(pattern.id, &position, &angles, options.invert ? 1 : 0) != 0) continue;
        if (plugin.getLastPose(matrix, &fitError) != 0) continue;
        double confidence = 0;  // the query answers with the most confident marker of the pattern
        for (const auto& marker : markers)
            if (marker.patternId == pattern.id) confidence = std::max(confidence, marker.confidence);
        ++pattern.found;
        pattern.confidenceSum += confidence;
        pattern.fitErrorSum += fitError;
        poses.push_back(
            poseJson(Json{{"patternId", pattern.id}, {"pattern", pattern.path}}, matrix, fitError, position, angles));
        seen += " " + pattern.name;
    }
    Json line{{"frame", frame}, {"markers", markerList}, {"poses", poses}};
    if (!boards.empty()) line["boards"] = boardPoses(plugin, boards, options.invert, &seen);
    outputs.writePoses(line);

    if (outputs.drawing()) {
        std::vector<OverlayMarker> annotated;
        for (size_t i = 0; i < markers.size(); i++) {
            OverlayMarker marker{markers[i], "", false, {}};
            if (const Pattern* pattern = patternWithId(patterns, markers[i].patternId)) marker.name = pattern->name;
            double fitError;
            marker.posed = !marker.name.empty() &&
                           plugin.getMarkerPose(static_cast<int32_t>(i), &marker.pose[0][0], &fitError) == 0;
            annotated.push_back(marker);
        }
        const cv::Mat bgra(texture.height, texture.width, CV_8UC4, const_cast<unsigned char*>(texture.buffer.data()),
                           texture.pitch);
        outputs.writeOverlay(bgra, annotated, frame);
    }
    return seen.empty() ? " -" : seen;
}

void printSummary(std::FILE* out, int frames, double seconds, double updateMilliseconds,
                  const std::vector<Pattern>& patterns) {
    std::fprintf(out, "%d frames in %.2f s: %.1f fps, %.2f ms per Zelk_Update\n", frames, seconds,
                 seconds > 0 ? frames / seconds : 0.0, frames ? updateMilliseconds / frames : 0.0);
    size_t width = 7;
    for (const auto& pattern : patterns) width = std::max(width, pattern.name.size());
    const int w = static_cast<int>(width);
    std::fprintf(out, "%-*s  %6s  %10s  %s\n", w, "pattern", "found", "confidence", "fit error (mean squared pixels)");
    for (const auto& pattern : patterns) {
        if (pattern.found == 0) {
            std::fprintf(out, "%-*s  %6d  %10s  %9s\n", w, pattern.name.c_str(), 0, "-", "-");
            continue;
        }
        std::fprintf(out, "%-*s  %6d  %10.3f  %9.3f\n", w, pattern.name.c_str(), pattern.found,
                     pattern.confidenceSum / pattern.found, pattern.fitErrorSum / pattern.found);
    }
}

void track(const TrackOptions& options) {
    if (!options.video.empty()) requireFile(options.video, "video configuration");
    if (!options.camera.empty()) requireFile(options.camera, "camera parameter file");
    for (const auto& path : options.patterns) requireFile(path, "pattern file");
    for (const auto& path : options.boards) checkBoardFile(path);
    // A board brings its own patterns; the bundled ones beside them could be read in their place.
    const std::vector<std::string> patternPaths =
        !options.patterns.empty() || !options.boards.empty() ? options.patterns : defaultPatterns();
    // The plug-in would take a text file as a camera and say no more than "read error" of a pattern.
    if (!options.camera.empty() || fs::is_regular_file(DEFAULT_CAMERA))
        checkCameraFile(options.camera.empty() ? DEFAULT_CAMERA : options.camera);
    for (const auto& path : patternPaths) checkPatternFile(path);
    std::FILE* info = options.poses == "-" ? stderr : stdout;
    const bool progress = !options.quiet && isatty(2);

    const Plugin plugin = loadPlugin();
    startPlugin(plugin, options);
    std::vector<Pattern> patterns = registerFiles<Pattern>(plugin.registerMarker, patternPaths, "pattern");
    setWidths(plugin, patterns, options.widths);
    // The files are checked: a board fails only for want of a free pattern or board slot, or
    // for two of its pictures alike.
    std::vector<Board> boards = registerFiles<Board>(plugin.registerBoard, options.boards, "board",
                                                     " (no free pattern or board slot, or two of its pictures alike)");

    const int width = plugin.getWidth() / 1024, height = plugin.getHeight() / 1024;
    host::Texture texture(width, height, width * 4);
    HostBitmap bitmap = host::makeBitmap(&texture);
    Outputs outputs(options, plugin, width, height);
    if (options.autoThreshold && plugin.setAutoThreshold(1) < 0) fail("the plug-in refused the automatic threshold");
    if (!options.quiet)
        std::fprintf(info, "video %d x %d, %zu patterns, threshold %s\n", width, height, patterns.size(),
                     options.autoThreshold ? "auto" : std::to_string(options.threshold).c_str());

    const bool still = options.still || plugin.videoStill();
    Clock::duration updating{};
    const auto begin = Clock::now();
    auto lastFrame = begin, lastProgress = begin;
    int frames = 0;
    while ((options.frames <= 0 || frames < options.frames) && !plugin.videoAtEnd()) {
        const auto before = Clock::now();
        if (still) plugin.resetHistory();
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
        const std::string seen = reportFrame(plugin, patterns, boards, options, outputs, texture, frames++);
        if (progress && Clock::now() - lastProgress >= PROGRESS_EVERY) {
            lastProgress = Clock::now();
            const double elapsed = std::chrono::duration<double>(lastProgress - begin).count();
            std::fprintf(stderr, "\r\033[Kframe %d, %.1f fps, found:%s", frames, frames / elapsed, seen.c_str());
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    plugin.quit();
    if (progress) std::fputs("\r\033[K", stderr);
    printSummary(info, frames, seconds, std::chrono::duration<double, std::milli>(updating).count(), patterns);
    for (const Board& board : boards)
        std::fprintf(info, "board %s: found in %d frames, fit error %.3f\n", board.name.c_str(), board.found,
                     board.found ? board.fitErrorSum / board.found : 0.0);
}

// The name of input i's outputs: its file's, or with its folder's when another has that too.
std::string outputName(const std::vector<std::string>& videos, size_t i) {
    const auto name = [](const std::string& video, bool withFolder) {
        const fs::path path(video);
        const std::string stem = path.stem().string();
        return withFolder ? path.parent_path().filename().string() + "_" + stem : stem;
    };
    bool shared = false;
    for (size_t k = 0; k < videos.size(); k++) shared |= k != i && name(videos[k], false) == name(videos[i], false);
    return name(videos[i], shared);
}

// One input's options among several: its configuration, its outputs inside the folders given.
TrackOptions optionsFor(const TrackOptions& common, const std::string& video, const std::string& name) {
    TrackOptions one = common;
    one.video = video;
    if (!common.poses.empty()) one.poses = (fs::path(common.poses) / (name + ".jsonl")).string();
    if (!common.overlay.empty()) one.overlay = (fs::path(common.overlay) / name).string();
    if (!common.videoOut.empty()) one.videoOut = (fs::path(common.videoOut) / (name + ".mp4")).string();
    return one;
}

// The inputs: the --video options, then the list file's lines (blank lines and lines
// starting with # skipped), relative paths in the list taken from the list's folder.
std::vector<std::string> videoInputs(const TrackOptions& options) {
    std::vector<std::string> videos = options.videos;
    if (options.videoList.empty()) return videos;
    std::ifstream list(options.videoList);
    if (!list) fail("cannot read the video list " + options.videoList);
    const fs::path folder = fs::path(options.videoList).parent_path();
    for (std::string line; std::getline(list, line);) {
        line.erase(line.find_last_not_of(" \t\r") + 1);
        line.erase(0, line.find_first_not_of(" \t"));
        if (line.empty() || line[0] == '#') continue;
        videos.push_back(fs::path(line).is_absolute() ? line : (folder / line).string());
    }
    if (videos.empty()) fail("the video list " + options.videoList + " names no video configuration");
    return videos;
}

// A run of track() in a child process, its standard output and error kept in a file.
struct Job {
    TrackOptions options;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> output{nullptr, std::fclose};
    pid_t pid = -1;
    int status = -1;  // the exit status once finished
};

void startJob(Job& job) {
    job.output.reset(std::tmpfile());
    if (!job.output) fail("cannot make a scratch file for the output of " + job.options.video);
    std::fflush(stdout);
    std::fflush(stderr);
    job.pid = fork();
    if (job.pid < 0) fail("cannot start a process for " + job.options.video);
    if (job.pid > 0) return;
    dup2(fileno(job.output.get()), 1);
    dup2(fileno(job.output.get()), 2);
    int status = 0;
    try {
        track(job.options);
    } catch (const CLI::RuntimeError& error) {
        status = error.get_exit_code();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zelk: %s\n", error.what());
        status = 1;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(status);
}

// Prints what a finished job printed, under the name of its configuration.
void printJob(const Job& job) {
    std::printf("%s:\n", job.options.video.c_str());
    std::rewind(job.output.get());
    char chunk[512];
    for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, job.output.get())) > 0;)
        std::fwrite(chunk, 1, got, job.status == 0 ? stdout : stderr);
    std::fflush(stdout);
    std::fflush(stderr);
}

void trackSeveral(const TrackOptions& options, const std::vector<std::string>& videos) {
    if (options.poses == "-") fail("--poses - takes one video; with several, --poses names a folder");
    std::vector<Job> jobs(videos.size());
    std::vector<std::string> names;
    for (size_t i = 0; i < videos.size(); i++) {
        names.push_back(outputName(videos, i));
        for (size_t k = 0; k < i; k++)
            if (names[k] == names[i])
                fail("the video configurations " + videos[k] + " and " + videos[i] + " would write the same outputs");
        jobs[i].options = optionsFor(options, videos[i], names[i]);
    }
    size_t started = 0, printed = 0;
    int running = 0;
    bool failed = false;
    while (printed < jobs.size()) {
        while (running < options.jobs && started < jobs.size()) {
            startJob(jobs[started++]);
            running++;
        }
        int status = 0;
        const pid_t pid = waitpid(-1, &status, 0);
        if (pid < 0) fail("lost track of the processes tracking the videos");
        for (Job& job : jobs)
            if (job.pid == pid) job.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
        running--;
        for (; printed < jobs.size() && jobs[printed].status >= 0; printed++) {
            printJob(jobs[printed]);
            failed |= jobs[printed].status != 0;
        }
    }
    if (failed) throw CLI::RuntimeError(1);
}

}  // namespace

void addTrackCommand(CLI::App& app) {
    auto* command = app.add_subcommand("track", "track the patterns in a video source with the plug-in");
    auto options = std::make_shared<TrackOptions>();
    command->add_option("--video", options->videos,
                        "video configuration file (default: the plug-in's, Data\\WDM_camera_flipV.xml); repeatable");
    command->add_option("--videos", options->videoList, "a file naming video configurations, one a line");
    command->add_option("--jobs", options->jobs, "videos tracked at once, each in a process of its own")
        ->check(wholeNumber(1))
        ->capture_default_str();
    command->add_option("--camera", options->camera,
                        "camera parameter file (default: the plug-in's, Data/camera_para.dat)");
    command->add_option("--pattern", options->patterns, "pattern file, repeatable (default: Data/patterns/*.patt)");
    command->add_option("--board", options->boards,
                        "board file, repeatable: its pose from all its markers in view, in the JSON lines' \"boards\" "
                        "(its patterns are registered with it; without --pattern no others are)");
    command->add_option("--width", options->widths,
                        "printed marker width, repeatable: name=width for the pattern of that file name, or a width "
                        "for all; positions come in its unit (default 80)");
    command
        ->add_option_function<std::string>(
            "--threshold",
            [options](const std::string& value) {
                options->autoThreshold = value == "auto";
                if (!options->autoThreshold) options->threshold = std::stoi(value);
            },
            "binarisation threshold, 0-255, or auto: one chosen per frame for the frame's own light, "
            "with small markers identified through their fitted corners (default: 100)")
        ->check(CLI::Validator(
            [](std::string& value) {
                return value == "auto" || wholeNumber(0, 255)(value).empty()
                           ? std::string()
                           : "must be auto or a whole number from 0 to 255, not " + value;
            },
            "auto|0-255"));
    command->add_flag("--invert", options->invert,
                      "report the camera's pose in each marker's frame instead of the marker's in the camera's");
    command->add_flag("--still", options->still,
                      "every frame is a picture of its own, such as a folder of photos: nothing seen in one "
                      "is carried into the next");
    command->add_flag("--precise", options->precise,
                      "precise mode: corners on the sub-pixel edge and the least-squares pose");
    command->add_flag("--smooth", options->smooth,
                      "smooth each pattern's pose over frames (about 3 frames of lag at rest)");
    command->add_option("--frames", options->frames, "stop after this many frames (default: at the source's end)")
        ->check(wholeNumber(1));
    command->add_option("--poses", options->poses,
                        "write each frame's markers and poses as JSON lines (- for standard output)");
    command->add_option("--overlay", options->overlay, "write annotated frames into this folder as frame_NNNNNN.png");
    command->add_option("--video-out", options->videoOut, "write the annotated frames as a video (e.g. out.mp4)");
    command->add_flag("-q,--quiet", options->quiet, "print only the summary");
    command->callback([options] {
        const std::vector<std::string> videos = videoInputs(*options);
        if (videos.size() > 1) return trackSeveral(*options, videos);
        TrackOptions one = *options;
        one.video = videos.empty() ? "" : videos[0];
        track(one);
    });
}

}  // namespace zelk::tool
