// The host's function look-up and its interface record.
#include <array>
#include <cstring>
#include <utility>

#include "platform/host/host.h"
#include "plugin/host_function_names.h"

namespace zelk::host {
namespace {

typedef void* (*GenericFunction)();

std::vector<std::string> lookups;
std::vector<std::string> genericCalls;

// One function per list position, so that every name gets an address of its own; a call
// through one of them is logged by name.
template <int POSITION>
void* genericFunction() {
    genericCalls.push_back(HOST_FUNCTION_NAMES[POSITION]);
    return nullptr;
}

template <int... POSITIONS>
constexpr std::array<GenericFunction, sizeof...(POSITIONS)> genericTable(std::integer_sequence<int, POSITIONS...>) {
    return {{&genericFunction<POSITIONS>...}};
}

constexpr std::array<GenericFunction, HOST_LOOKUP_COUNT> GENERIC_FUNCTIONS =
    genericTable(std::make_integer_sequence<int, HOST_LOOKUP_COUNT>());

}  // namespace

void* lookup(const char* name) {
    lookups.push_back(name ? name : "(null)");
    if (!name) return nullptr;
    if (std::strcmp(name, "_chr") == 0) return reinterpret_cast<void*>(&chr);
    if (std::strcmp(name, "ang_rotate") == 0) return reinterpret_cast<void*>(&angRotate);
    // A name listed twice answers with the function of its first position.
    for (int i = 0; i < HOST_LOOKUP_COUNT; ++i) {
        if (std::strcmp(name, HOST_FUNCTION_NAMES[i]) == 0) return reinterpret_cast<void*>(GENERIC_FUNCTIONS[i]);
    }
    return nullptr;
}

const std::vector<std::string>& lookupLog() { return lookups; }

const std::vector<std::string>& genericCallLog() { return genericCalls; }

void clearLog() {
    lookups.clear();
    genericCalls.clear();
}

HostInterface* interfaceRecord() {
    static HostInterface record;
    const LookupFunction function = &lookup;
    std::memcpy(record.bytes + INTERFACE_LOOKUP_OFFSET, &function, sizeof function);
    return &record;
}

}  // namespace zelk::host
