// The host functions the plug-in calls, resolved by name when the host loads it.
#pragma once
#include "plugin/exports.h"

namespace zelk {

typedef const char* (*HostChrFunction)(HostString* string);
typedef HostFixed* (*HostAngRotateFunction)(HostAngle* angle, HostAngle* rotation);

// The bound `_chr` and `ang_rotate`, or null before the host has called A6_DLLAPI.
HostChrFunction boundChr();
HostAngRotateFunction boundAngRotate();

}  // namespace zelk
