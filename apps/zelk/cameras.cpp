// zelk cameras: the live cameras OpenCV can open, each with the size it delivers, the
// common sizes it also accepts, and the video configuration that reads it.
#include "apps/zelk/commands.h"
#include "apps/zelk/media.h"

namespace zelk::tool {

void addCamerasCommand(CLI::App& app) {
    auto* command = app.add_subcommand("cameras", "list the live cameras, their sizes and their video configuration");
    command->callback([] { listCameras(); });
}

}  // namespace zelk::tool
