// Copies the newest camera frame into the texture of a host bitmap, pixel for pixel.
//
// When the copy is skipped, leaving the texture untouched: docs/design.md (Decisions).
#include <cstring>

#include "numeric/simd.h"
#include "platform/d3d9.h"
#include "plugin/exports.h"
#include "plugin/frame_pump.h"
#include "plugin/host_records.h"

namespace zelk {

static bool textureHolds(IDirect3DTexture9* texture, int32_t width, int32_t height) {
    D3DSURFACE_DESC desc;
    if (texture->GetLevelDesc(0, &desc) != D3D_OK) return false;
    return desc.Width >= static_cast<UINT>(width) && desc.Height >= static_cast<UINT>(height);
}

// Bytes 0 to 2 of every pixel of a row; byte 3 of each texel stays the host's (its alpha, which
// a 32-bit bitmap shows through), so each texel is read before it is written. The store reads
// the texel's line anyway, so the copy costs about what a plain copy of the row does.
static void copyRow(const unsigned char* source, unsigned char* destination, int32_t width) {
    int32_t x = 0;
#if ZELK_SSE2
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);  // bytes 0 to 2 of four texels
    for (; x + 4 <= width; x += 4) {
        const __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(source + x * 4));
        __m128i* texels = reinterpret_cast<__m128i*>(destination + x * 4);
        const __m128i kept = _mm_andnot_si128(colour, _mm_loadu_si128(texels));
        _mm_storeu_si128(texels, _mm_or_si128(_mm_and_si128(pixels, colour), kept));
    }
#endif
    for (; x < width; ++x) std::memcpy(destination + x * 4, source + x * 4, 3);
}

static void copyFrame(const unsigned char* frame, int32_t width, int32_t height, unsigned char* bits, int pitch) {
    for (int32_t y = 0; y < height; ++y)
        copyRow(frame + static_cast<size_t>(y) * width * 4, bits + static_cast<size_t>(y) * pitch, width);
}

}  // namespace zelk

using namespace zelk;

ZELK_API void Zelk_getBmap(HostBitmap* bitmap) {
    // The plug-in's frames have no row padding.
    const FrameImage& current = pluginState()->frame;
    const unsigned char* frame = current.pixels;
    const int32_t width = current.width, height = current.height;
    if (!frame || !bitmap) return;
    IDirect3DTexture9* texture = hostBitmapTexture(bitmap);
    if (!texture || !textureHolds(texture, width, height)) return;

    D3DLOCKED_RECT locked;
    if (texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD) != D3D_OK) return;
    if (locked.pBits && locked.Pitch >= static_cast<int64_t>(width) * 4)
        copyFrame(frame, width, height, static_cast<unsigned char*>(locked.pBits), locked.Pitch);
    texture->UnlockRect(0);
}
