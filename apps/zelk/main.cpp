// zelk: runs the plug-in the way the host engine does, and makes its data files.
#include <algorithm>
#include <iostream>

#include "apps/zelk/commands.h"

namespace zelk::tool {

void fail(const std::string& message) {
    std::cerr << "zelk: " << message << "\n";
    throw CLI::RuntimeError(1);
}

}  // namespace zelk::tool

int main(int argc, char** argv) {
    CLI::App app{"zelk: marker tracking with the Zelk plug-in, and its data files"};
    app.require_subcommand(1);
    zelk::tool::addTrackCommand(app);
    zelk::tool::addPatternCommand(app);
    zelk::tool::addMarkerCommand(app);
    zelk::tool::addCameraCommand(app);
    zelk::tool::addSceneCommand(app);
    zelk::tool::addRenderCommand(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error);
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
