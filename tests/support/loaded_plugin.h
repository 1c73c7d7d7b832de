// The plug-in as the host reaches it: the shared library loaded with dlopen (LoadLibrary on
// Windows) and its exports looked up by name.
#pragma once
#include <string>

#include "plugin/exports.h"

struct LoadedPlugin {
    void* library = nullptr;
    int32_t (*dllapi)(HostInterface*) = nullptr;
    int32_t (*init)(HostString*, HostString*) = nullptr;
    int32_t (*update)(int32_t) = nullptr;
    int32_t (*quit)() = nullptr;
    int32_t (*getWidth)() = nullptr;
    int32_t (*getHeight)() = nullptr;
    int32_t (*getMarker)(int32_t, HostVector*, HostAngle*, int32_t) = nullptr;
    void (*getBmap)(HostBitmap*) = nullptr;
    int32_t (*registerMarker)(HostString*) = nullptr;
    int32_t (*freeMarker)(int32_t) = nullptr;
};

// Loads the library at path and looks up every export. An empty string, or what is missing.
std::string loadPlugin(const std::string& path, LoadedPlugin* plugin);
// Closes the library (if loaded) and clears the record.
void unloadPlugin(LoadedPlugin* plugin);
