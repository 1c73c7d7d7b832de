// The exports that register and free pattern files.
#include "detect/pattern_library.h"
#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/host_binding.h"

// -1 also when the host string, the bound `_chr` or its result is missing.
ZELK_API int32_t Zelk_registerMarker(HostString* path) {
    const zelk::HostChrFunction chr = zelk::boundChr();
    if (!path || !chr) return -1;
    const char* characters = chr(path);
    if (!characters) return -1;
    const int32_t id = zelk::loadPattern(&zelk::pluginState()->detector.patterns, characters);
    if (id >= 0) zelk::pluginState()->patternWidth[id] = 0;  // a new pattern has the default width
    return id;
}

ZELK_API int32_t Zelk_freeMarker(int32_t patternId) {
    const int32_t freed = zelk::freePattern(&zelk::pluginState()->detector.patterns, patternId);
    if (freed == 1) zelk::dropBoardPattern(patternId);  // a later pattern in the slot is not the board's
    return freed;
}
