#include "tests/support/loaded_plugin.h"

#include <dlfcn.h>

namespace {

template <typename F>
void lookUp(void* library, const char* name, F* function, std::string* missing) {
    *function = reinterpret_cast<F>(dlsym(library, name));
    if (!*function) *missing += std::string(missing->empty() ? "missing export " : ", ") + name;
}

}  // namespace

std::string loadPlugin(const std::string& path, LoadedPlugin* p) {
    *p = LoadedPlugin();
    p->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!p->library) return dlerror();
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
    if (p->library) dlclose(p->library);
    *p = LoadedPlugin();
}
