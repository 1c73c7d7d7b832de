// The words of the host's records that the plug-in reads, and the conversions to the
// host's fixed-point numbers. This is the only place that knows the record offsets.
//
// The host's records are 32-bit; each word is read with memcpy of a pointer-sized word
// at its byte offset. A 64-bit stand-in host lays its records out with 8-byte words at
// the same offsets.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>

#include "platform/d3d9.h"
#include "plugin/exports.h"

namespace zelk {

constexpr int HOST_STRING_CHARS_OFFSET = 12;
constexpr int HOST_BITMAP_TEXTURE_OFFSET = 36;
constexpr int HOST_INTERFACE_LOOKUP_OFFSET = 2608;

typedef void* (*HostLookupFunction)(const char* name);

template <typename T>
inline T readHostWord(const void* record, int offset) {
    static_assert(sizeof(T) == sizeof(void*), "host words are pointer-sized");
    T word;
    std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
    return word;
}

// The zero-terminated characters of a host string.
inline const char* hostStringChars(const HostString* string) {
    return readHostWord<const char*>(string, HOST_STRING_CHARS_OFFSET);
}
// The Direct3D 9 texture of a host bitmap.
inline IDirect3DTexture9* hostBitmapTexture(const HostBitmap* bitmap) {
    return readHostWord<IDirect3DTexture9*>(bitmap, HOST_BITMAP_TEXTURE_OFFSET);
}
// The host's function look-up.
inline HostLookupFunction hostInterfaceLookup(const HostInterface* record) {
    return readHostWord<HostLookupFunction>(record, HOST_INTERFACE_LOOKUP_OFFSET);
}

// value x 1024, truncated toward zero; saturates at the int32 range and maps NaN to 0,
// so that every double has a defined result.
inline HostFixed hostFixedFromDouble(double value) {
    const double scaled = value * 1024.0;
    if (std::isnan(scaled)) return 0;
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    return static_cast<HostFixed>(scaled);
}
// An integer shifted left by 10 bits (done on the unsigned pattern: defined for negatives).
inline HostFixed hostFixedFromInt(int32_t value) { return static_cast<HostFixed>(static_cast<uint32_t>(value) << 10); }

}  // namespace zelk
