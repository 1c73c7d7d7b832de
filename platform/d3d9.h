// Direct3D 9 texture interface, as far as the plug-in uses it.
#pragma once
#if defined(_WIN32)
#include <d3d9.h>
#else
#include <cstdint>

typedef long HRESULT;
typedef unsigned long DWORD;
typedef unsigned int UINT;
struct RECT {
    long left, top, right, bottom;
};
struct D3DLOCKED_RECT {
    int Pitch;
    void* pBits;
};
struct D3DSURFACE_DESC {
    UINT Width;
    UINT Height;
};
#define D3D_OK 0L
#define D3DERR_INVALIDCALL (-2005530516L)
#define D3DLOCK_DISCARD 0x00002000L

struct IDirect3DTexture9 {
    virtual HRESULT GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) = 0;
    virtual HRESULT LockRect(UINT level, D3DLOCKED_RECT* lockedRect, const RECT* rect, DWORD flags) = 0;
    virtual HRESULT UnlockRect(UINT level) = 0;

protected:
    ~IDirect3DTexture9() = default;
};
#endif
