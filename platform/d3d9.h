// Direct3D 9 texture interface, as far as the plug-in uses it.
#pragma once
#if defined(_WIN32)
#include <d3d9.h>
#define D3D_METHOD STDMETHODCALLTYPE

// What the stand-in textures derive from: the three methods the plug-in calls are theirs to
// write; the rest of the real interface does nothing.
struct TextureStandIn : IDirect3DTexture9 {
    HRESULT D3D_METHOD QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG D3D_METHOD AddRef() override { return 1; }
    ULONG D3D_METHOD Release() override { return 1; }
    HRESULT D3D_METHOD GetDevice(IDirect3DDevice9**) override { return D3DERR_INVALIDCALL; }
    HRESULT D3D_METHOD SetPrivateData(REFGUID, const void*, DWORD, DWORD) override { return D3DERR_INVALIDCALL; }
    HRESULT D3D_METHOD GetPrivateData(REFGUID, void*, DWORD*) override { return D3DERR_INVALIDCALL; }
    HRESULT D3D_METHOD FreePrivateData(REFGUID) override { return D3DERR_INVALIDCALL; }
    DWORD D3D_METHOD SetPriority(DWORD) override { return 0; }
    DWORD D3D_METHOD GetPriority() override { return 0; }
    void D3D_METHOD PreLoad() override {}
    D3DRESOURCETYPE D3D_METHOD GetType() override { return D3DRTYPE_TEXTURE; }
    DWORD D3D_METHOD SetLOD(DWORD) override { return 0; }
    DWORD D3D_METHOD GetLOD() override { return 0; }
    DWORD D3D_METHOD GetLevelCount() override { return 1; }
    HRESULT D3D_METHOD SetAutoGenFilterType(D3DTEXTUREFILTERTYPE) override { return D3DERR_INVALIDCALL; }
    D3DTEXTUREFILTERTYPE D3D_METHOD GetAutoGenFilterType() override { return D3DTEXF_NONE; }
    void D3D_METHOD GenerateMipSubLevels() override {}
    HRESULT D3D_METHOD GetSurfaceLevel(UINT, IDirect3DSurface9**) override { return D3DERR_INVALIDCALL; }
    HRESULT D3D_METHOD AddDirtyRect(const RECT*) override { return D3DERR_INVALIDCALL; }

protected:
    ~TextureStandIn() = default;
};
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
#define D3D_METHOD
typedef IDirect3DTexture9 TextureStandIn;
#endif
