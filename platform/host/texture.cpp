// A Direct3D 9 texture stand-in over a BGRA buffer with any row pitch.
#include <algorithm>

#include "platform/host/host.h"

namespace zelk::host {

Texture::Texture(int width, int height, int pitch, unsigned char fill)
    : width(width),
      height(height),
      pitch(pitch),
      buffer(static_cast<std::size_t>(std::max(0, pitch)) * static_cast<std::size_t>(std::max(0, height)), fill) {}

HRESULT D3D_METHOD Texture::GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) {
    if (level != 0 || !desc) return D3DERR_INVALIDCALL;
    desc->Width = static_cast<UINT>(width);
    desc->Height = static_cast<UINT>(height);
    return D3D_OK;
}

HRESULT D3D_METHOD Texture::LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) {
    if (failLock || locked || level != 0 || !lockedRect || rect) return D3DERR_INVALIDCALL;
    lockedRect->Pitch = pitch;
    lockedRect->pBits = buffer.data();
    locked = true;
    lastLockFlags = flags;
    ++lockCount;
    return D3D_OK;
}

HRESULT D3D_METHOD Texture::UnlockRect(UINT level) {
    if (!locked || level != 0) return D3DERR_INVALIDCALL;
    locked = false;
    ++unlockCount;
    return D3D_OK;
}

}  // namespace zelk::host
