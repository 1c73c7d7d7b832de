// Host records for the plug-in tests: zeroed byte buffers with pointer words written
// at the host's offsets, as the host lays them out.
#pragma once
#include <cstring>

#include "plugin/exports.h"

template <int Size>
struct HostRecordBuffer {
    alignas(8) unsigned char bytes[Size] = {};
    template <typename T>
    void setWord(int offset, T word) {
        static_assert(sizeof(T) == sizeof(void*), "host words are pointer-sized");
        std::memcpy(bytes + offset, &word, sizeof word);
    }
    template <typename Record>
    Record* as() {
        return reinterpret_cast<Record*>(bytes);
    }
};

struct TestHostString : HostRecordBuffer<32> {
    explicit TestHostString(const char* chars) { setWord(12, chars); }
    HostString* get() { return as<HostString>(); }
};

struct TestHostInterface : HostRecordBuffer<2616> {
    explicit TestHostInterface(void* (*lookup)(const char*)) { setWord(2608, lookup); }
    HostInterface* get() { return as<HostInterface>(); }
};
