// The built plug-in shows the host its exports and nothing else.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "plugin/exports.h"
#include "tests/support/paths.h"

namespace {

// The names nm lists as defined in the library's dynamic symbol table.
std::set<std::string> dynamicSymbols(const std::string& library) {
    std::set<std::string> names;
    FILE* pipe = popen(("nm -D --defined-only '" + library + "'").c_str(), "r");
    if (!pipe) return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name) names.insert(name);
    }
    pclose(pipe);
    return names;
}

const std::set<std::string> LINKER_SYMBOLS = {"_init", "_fini", "_edata", "_end", "__bss_start"};
const std::set<std::string> EXPORTS = {"A6_DLLAPI",       "Zelk_Init",      "Zelk_Update",         "Zelk_Quit",
                                       "Zelk_getWidth",   "Zelk_getHeight", "Zelk_getMarker",      "Zelk_getBmap",
                                       "Zelk_registerMarker", "Zelk_freeMarker", ZELK_EXTENSION_EXPORTS};

TEST(PluginLibrary, ExportsOnlyThePluginInterface) {
    std::set<std::string> listed = dynamicSymbols(binaryPath("libZelk.so"));
    ASSERT_FALSE(listed.empty()) << "nm listed nothing for " << binaryPath("libZelk.so");
    for (const std::string& name : LINKER_SYMBOLS) listed.erase(name);
    for (const std::string& name : listed) EXPECT_TRUE(EXPORTS.count(name)) << "internal symbol exported: " << name;
    for (const std::string& name : EXPORTS) EXPECT_TRUE(listed.count(name)) << "missing export: " << name;
}

}  // namespace
