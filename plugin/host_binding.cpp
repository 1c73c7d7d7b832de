// Binds the host's functions by name when the host hands over its interface record.
//
// Every name of the list is looked up, in order, because the host expects the whole
// sequence; only the two functions the plug-in calls are kept. A missing record or
// look-up function leaves both unbound (null), and every call rebinds from scratch.
#include "plugin/host_binding.h"

#include <cstring>

#include "plugin/host_function_names.h"
#include "plugin/host_records.h"

namespace zelk {

static HostChrFunction chrFunction;
static HostAngRotateFunction angRotateFunction;

HostChrFunction boundChr() { return chrFunction; }
HostAngRotateFunction boundAngRotate() { return angRotateFunction; }

}  // namespace zelk

using namespace zelk;

ZELK_API int32_t A6_DLLAPI(HostInterface* record) {
    chrFunction = nullptr;
    angRotateFunction = nullptr;
    const HostLookupFunction lookup = record ? hostInterfaceLookup(record) : nullptr;
    if (!lookup) return 630;
    for (const char* name : HOST_FUNCTION_NAMES) {
        void* function = lookup(name);
        if (std::strcmp(name, "_chr") == 0) chrFunction = reinterpret_cast<HostChrFunction>(function);
        if (std::strcmp(name, "ang_rotate") == 0) angRotateFunction = reinterpret_cast<HostAngRotateFunction>(function);
    }
    return 630;
}
