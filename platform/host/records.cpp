// Builders of the host's records and its _chr.
#include <cstring>

#include "platform/host/host.h"
#include "plugin/host_records.h"

namespace zelk::host {

const char* chr(HostString* string) {
    const char* chars;
    std::memcpy(&chars, string->bytes + STRING_CHARS_OFFSET, sizeof chars);
    return chars;
}

HostString makeString(const char* chars) {
    HostString record{};
    std::memcpy(record.bytes + STRING_CHARS_OFFSET, &chars, sizeof chars);
    return record;
}

HostBitmap makeBitmap(IDirect3DTexture9* texture) {
    HostBitmap record{};
    std::memcpy(record.bytes + BITMAP_TEXTURE_OFFSET, &texture, sizeof texture);
    return record;
}

HostVector makeVector(double x, double y, double z) {
    return {hostFixedFromDouble(x), hostFixedFromDouble(y), hostFixedFromDouble(z)};
}

HostAngle makeAngle(double panDegrees, double tiltDegrees, double rollDegrees) {
    return {hostFixedFromDouble(panDegrees), hostFixedFromDouble(tiltDegrees), hostFixedFromDouble(rollDegrees)};
}

}  // namespace zelk::host
