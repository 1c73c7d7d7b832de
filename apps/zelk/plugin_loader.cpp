#include "apps/zelk/plugin_loader.h"

#include <dlfcn.h>

#include <filesystem>

#include "apps/zelk/commands.h"
#include "platform/host/host.h"

namespace zelk::tool {

namespace {

template <typename Function>
void resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function) fail(std::string("the plug-in has no export ") + name);
}

}  // namespace

Plugin loadPlugin() {
    const auto path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libZelk.so";
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) fail(std::string("cannot load the plug-in: ") + dlerror());
    Plugin plugin{};
    int32_t (*dllApi)(HostInterface*) = nullptr;
    resolve(library, "A6_DLLAPI", dllApi);
    resolve(library, "Zelk_Init", plugin.init);
    resolve(library, "Zelk_Update", plugin.update);
    resolve(library, "Zelk_Quit", plugin.quit);
    resolve(library, "Zelk_getWidth", plugin.getWidth);
    resolve(library, "Zelk_getHeight", plugin.getHeight);
    resolve(library, "Zelk_getMarker", plugin.getMarker);
    resolve(library, "Zelk_getBmap", plugin.getBmap);
    resolve(library, "Zelk_registerMarker", plugin.registerMarker);
    resolve(library, "Zelk_getMarkerCount", plugin.getMarkerCount);
    resolve(library, "Zelk_getMarkerInfo", plugin.getMarkerInfo);
    resolve(library, "Zelk_getMarkerPose", plugin.getMarkerPose);
    resolve(library, "Zelk_getLastPose", plugin.getLastPose);
    resolve(library, "Zelk_getCamera", plugin.getCamera);
    resolve(library, "Zelk_getMarkerCarriedOver", plugin.getMarkerCarriedOver);
    resolve(library, "Zelk_resetHistory", plugin.resetHistory);
    resolve(library, "Zelk_setMarkerWidth", plugin.setMarkerWidth);
    resolve(library, "Zelk_setPrecise", plugin.setPrecise);
    resolve(library, "Zelk_setSmoothing", plugin.setSmoothing);
    resolve(library, "Zelk_setAutoThreshold", plugin.setAutoThreshold);
    resolve(library, "Zelk_registerBoard", plugin.registerBoard);
    resolve(library, "Zelk_getBoard", plugin.getBoard);
    resolve(library, "Zelk_getBoardMarkerCount", plugin.getBoardMarkerCount);
    resolve(library, "videoAtEnd", plugin.videoAtEnd);
    resolve(library, "videoStill", plugin.videoStill);
    dllApi(zelk::host::interfaceRecord());
    return plugin;
}

}  // namespace zelk::tool
