// The built plug-in shows the host its exports and nothing else.
#include <gtest/gtest.h>
#if defined(_WIN32)
#include <windows.h>
#endif

#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "plugin/exports.h"
#include "tests/support/paths.h"

namespace {

#if defined(_WIN32)
// The names in the DLL's export table, read from the loaded image.
std::set<std::string> dynamicSymbols(const std::string& library) {
    std::set<std::string> names;
    const HMODULE module = LoadLibraryA(library.c_str());
    if (!module) return names;
    const auto* base = reinterpret_cast<const unsigned char*>(module);
    const auto* headers =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& table = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (table.Size) {
        const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + table.VirtualAddress);
        const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
        for (DWORD i = 0; i < exports->NumberOfNames; i++)
            names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
    }
    FreeLibrary(module);
    return names;
}
#else
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
#endif

const std::set<std::string> LINKER_SYMBOLS = {"_init", "_fini", "_edata", "_end", "__bss_start"};
const std::set<std::string> EXPORTS = {"A6_DLLAPI",           "Zelk_Init",       "Zelk_Update",         "Zelk_Quit",
                                       "Zelk_getWidth",       "Zelk_getHeight",  "Zelk_getMarker",      "Zelk_getBmap",
                                       "Zelk_registerMarker", "Zelk_freeMarker", ZELK_EXTENSION_EXPORTS};

TEST(PluginLibrary, ExportsOnlyThePluginInterface) {
    std::set<std::string> listed = dynamicSymbols(pluginPath());
    ASSERT_FALSE(listed.empty()) << "no exports listed for " << pluginPath();
    for (const std::string& name : LINKER_SYMBOLS) listed.erase(name);
    for (const std::string& name : listed) EXPECT_TRUE(EXPORTS.count(name)) << "internal symbol exported: " << name;
    for (const std::string& name : EXPORTS) EXPECT_TRUE(listed.count(name)) << "missing export: " << name;
}

// The list above is every function the exports header declares, and no other.
TEST(PluginLibrary, ExportListIsTheHeadersDeclarations) {
    std::ifstream header(sourcePath("plugin/exports.h"));
    std::set<std::string> declared;
    for (std::string line; std::getline(header, line);) {
        const size_t open = line.find('(');
        if (line.rfind("ZELK_API ", 0) != 0 || open == std::string::npos) continue;
        size_t first = open;  // the name is the word just before the parenthesis
        while (first > 0 && (std::isalnum(static_cast<unsigned char>(line[first - 1])) || line[first - 1] == '_'))
            first--;
        declared.insert(line.substr(first, open - first));
    }
    EXPECT_EQ(declared, EXPORTS);
}

}  // namespace
