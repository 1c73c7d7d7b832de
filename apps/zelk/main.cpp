// zelk: runs the plug-in the way the host engine does, and makes its data files.
#include <algorithm>
#include <cstdlib>
#include <iostream>

#include <opencv2/core/utils/logger.hpp>
#include <opencv2/core/version.hpp>

#include "apps/zelk/arguments.h"
#include "apps/zelk/commands.h"

namespace zelk::tool {

void fail(const std::string& message) {
    std::cerr << "zelk: " << message << "\n";
    throw CLI::RuntimeError(1);
}

}  // namespace zelk::tool

int main(int argc, char** argv) {
    // Our messages say what went wrong in one line; OpenCV's and FFmpeg's own logs would bury it.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 1);  // AV_LOG_QUIET

    CLI::App app{"zelk: marker tracking with the Zelk plug-in, and its data files"};
    app.set_version_flag("--version", "zelk " ZELK_VERSION " (OpenCV " CV_VERSION ")");
    app.require_subcommand(1);
    zelk::tool::addTrackCommand(app);
    zelk::tool::addPatternCommand(app);
    zelk::tool::addMarkerCommand(app);
    zelk::tool::addCameraCommand(app);
    zelk::tool::addCamerasCommand(app);
    zelk::tool::addSceneCommand(app);
    zelk::tool::addRenderCommand(app);
    try {
        const std::string unknown = zelk::tool::unknownCommand(app, argc, argv);
        if (!unknown.empty()) zelk::tool::fail(unknown);
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {  // --help, --version
        return app.exit(done);
    } catch (const CLI::RuntimeError& failed) {  // fail() has said why
        return failed.get_exit_code();
    } catch (const CLI::ParseError& error) {
        std::cerr << "zelk: " << zelk::tool::argumentError(app, error) << "\n";
        return 1;
    } catch (const std::exception& error) {  // e.g. OpenCV refusing an image
        // One line, as every message of ours.
        std::string message = error.what();
        std::replace(message.begin(), message.end(), '\n', ' ');
        while (!message.empty() && message.back() == ' ') message.pop_back();
        std::cerr << "zelk: " << message << "\n";
        return 1;
    }
    return 0;
}
