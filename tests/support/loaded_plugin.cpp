#include "tests/support/loaded_plugin.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace {

#if defined(_WIN32)
void* openLibrary(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryA(path.c_str())); }
void* librarySymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void closeLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
std::string openError(const std::string& path) {
    return "LoadLibrary failed for " + path + " (error " + std::to_string(GetLastError()) + ")";
}
#else
void* openLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* librarySymbol(void* library, const char* name) { return dlsym(library, name); }
void closeLibrary(void* library) { dlclose(library); }
std::string openError(const std::string&) { return dlerror(); }
#endif

template <typename F>
void lookUp(void* library, const char* name, F* function, std::string* missing) {
    *function = reinterpret_cast<F>(librarySymbol(library, name));
    if (!*function) *missing += std::string(missing->empty() ? "missing export " : ", ") + name;
}

}  // namespace

std::string loadPlugin(const std::string& path, LoadedPlugin* p) {
    *p = LoadedPlugin();
    p->library = openLibrary(path);
    if (!p->library) return openError(path);
    std::string missing;
    lookUp(p->library, "A6_DLLAPI", &p->dllapi, &missing);
    lookUp(p->library, "Zelk_Init", &p->init, &missing);
    lookUp(p->library, "Zelk_Update", &p->update, &missing);
    lookUp(p->library, "Zelk_Quit", &p->quit, &missing);
    lookUp(p->library, "Zelk_getWidth", &p->getWidth, &missing);
    lookUp(p->library, "Zelk_getHeight", &p->getHeight, &missing);
    lookUp(p->library, "Zelk_getMarker", &p->getMarker, &missing);
    lookUp(p->library, "Zelk_getBmap", &p->getBmap, &missing);
    lookUp(p->library, "Zelk_registerMarker", &p->registerMarker, &missing);
    lookUp(p->library, "Zelk_freeMarker", &p->freeMarker, &missing);
    return missing;
}

void unloadPlugin(LoadedPlugin* p) {
    if (p->library) closeLibrary(p->library);
    *p = LoadedPlugin();
}
