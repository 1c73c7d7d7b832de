#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <tuple>
#include <string>
#include <vector>

#include "platform/d3d9.h"
#include "plugin/exports.h"
#include "tests/plugin/host_record_buffer.h"
#include "tests/support/camera_file.h"
#include "tests/support/fake_video.h"
#include "tests/support/paths.h"

using Calls = std::vector<std::string>;

namespace {

constexpr int VIDEO_WIDTH = 4;
constexpr int VIDEO_HEIGHT = 3;
constexpr unsigned char UNTOUCHED = 0xEE;

// A texture over a byte buffer that records every call and can be told to fail.
struct FakeTexture final : TextureStandIn {
    UINT width = VIDEO_WIDTH, height = VIDEO_HEIGHT;
    int pitch = VIDEO_WIDTH * 4;
    bool descFails = false, lockFails = false, nullBits = false;
    std::vector<unsigned char> bytes;
    Calls calls;

    HRESULT D3D_METHOD GetLevelDesc(UINT level, D3DSURFACE_DESC* desc) override {
        calls.push_back("GetLevelDesc " + std::to_string(level));
        if (descFails) return D3DERR_INVALIDCALL;
        desc->Width = width;
        desc->Height = height;
        return D3D_OK;
    }
    HRESULT D3D_METHOD LockRect(UINT level, D3DLOCKED_RECT* locked, const RECT* rect, DWORD flags) override {
        calls.push_back("LockRect " + std::to_string(level) + (rect ? " rect " : " whole ") + std::to_string(flags));
        if (lockFails) return D3DERR_INVALIDCALL;
        bytes.assign(static_cast<size_t>(std::abs(pitch)) * height, UNTOUCHED);
        locked->Pitch = pitch;
        locked->pBits = nullBits ? nullptr : bytes.data();
        return D3D_OK;
    }
    HRESULT D3D_METHOD UnlockRect(UINT level) override {
        calls.push_back("UnlockRect " + std::to_string(level));
        return D3D_OK;
    }
};

const Calls COPIED = {"GetLevelDesc 0", "LockRect 0 whole 8192", "UnlockRect 0"};

class BitmapExport : public testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(start(VIDEO_WIDTH, VIDEO_HEIGHT)); }
    // Starts the plug-in on a video of the given size, whose frame holds 4 i + 1 (mod 256) at byte i.
    void start(int width, int height) {
        fakeVideo.reset();
        fakeVideo.width = width;
        fakeVideo.height = height;
        const std::string cameraPath = scratchPath("camera.dat");
        writeBytes(cameraPath, cameraFileBytes({sampleCamera()}));
        TestHostString camera(cameraPath.c_str());
        testing::internal::CaptureStdout();
        const int result = Zelk_Init(nullptr, camera.get());
        testing::internal::GetCapturedStdout();
        std::remove(cameraPath.c_str());
        ASSERT_EQ(result, 0);
        frame.clear();
        for (int i = 0; i < width * height * 4; ++i) frame.push_back(static_cast<unsigned char>(4 * i + 1));
        bitmap.setWord(36, static_cast<IDirect3DTexture9*>(&texture));
    }
    void TearDown() override { fakeVideo.reset(); }
    void pumpFrame() {
        fakeVideo.nextFrame = frame.data();
        ASSERT_EQ(Zelk_Update(100), 0);
    }
    HostBitmap* get() { return bitmap.as<HostBitmap>(); }

    std::vector<unsigned char> frame;
    FakeTexture texture;
    HostRecordBuffer<64> bitmap;
};

TEST_F(BitmapExport, WithoutAFrameNothingIsLocked) {
    Zelk_getBmap(get());  // Init forgot any earlier frame
    fakeVideo.nextFrame = nullptr;
    Zelk_Update(100);
    Zelk_getBmap(get());
    pumpFrame();
    Zelk_Quit();
    Zelk_getBmap(get());
    EXPECT_TRUE(texture.calls.empty());
}

// Video width, and the bytes by which each texture row is longer than a frame row.
class BitmapPitch : public BitmapExport, public testing::WithParamInterface<std::tuple<int, int>> {};

// Each frame row starts its own texture row, whatever the row's alignment; byte 3 and
// anything beyond the video keep what the surface held.
TEST_P(BitmapPitch, CopiesRowByRowWithoutSkew) {
    const auto [width, padding] = GetParam();
    ASSERT_NO_FATAL_FAILURE(start(width, VIDEO_HEIGHT));
    texture.pitch = width * 4 + padding;
    texture.width = static_cast<UINT>(texture.pitch / 4);
    texture.height = VIDEO_HEIGHT + 1;
    pumpFrame();
    Zelk_getBmap(get());
    ASSERT_EQ(texture.calls, COPIED);
    for (int y = 0; y < static_cast<int>(texture.height); ++y)
        for (int offset = 0; offset < texture.pitch; ++offset) {
            const int x = offset / 4, k = offset % 4;
            const bool copied = y < VIDEO_HEIGHT && x < width && k < 3;
            const unsigned char expected = copied ? frame[(y * width + x) * 4 + k] : UNTOUCHED;
            ASSERT_EQ(texture.bytes[y * texture.pitch + offset], expected) << "row " << y << " byte " << offset;
        }
}

INSTANTIATE_TEST_SUITE_P(Textures, BitmapPitch,
                         testing::Combine(testing::Values(3, 4, 5, 8, 13, 37), testing::Values(0, 4, 12, 24)));

struct Refusal {
    const char* name;
    bool nullBitmap, nullTexture, descFails;
    UINT width, height;
    bool lockFails, nullBits;
    int pitch;
    Calls calls;
};
void PrintTo(const Refusal& c, std::ostream* out) { *out << c.name; }

class BitmapRefusal : public BitmapExport, public testing::WithParamInterface<Refusal> {};

// A copy that cannot fit is skipped; a lock that was taken is given back.
TEST_P(BitmapRefusal, SkipsTheCopy) {
    const Refusal c = GetParam();
    texture.descFails = c.descFails;
    texture.width = c.width;
    texture.height = c.height;
    texture.lockFails = c.lockFails;
    texture.nullBits = c.nullBits;
    texture.pitch = c.pitch;
    if (c.nullTexture) bitmap.setWord(36, static_cast<IDirect3DTexture9*>(nullptr));
    pumpFrame();
    Zelk_getBmap(c.nullBitmap ? nullptr : get());
    EXPECT_EQ(texture.calls, c.calls);
    for (unsigned char byte : texture.bytes) ASSERT_EQ(byte, UNTOUCHED);
}

const Calls DESC_ONLY = {"GetLevelDesc 0"};
const Calls LOCK_FAILED = {"GetLevelDesc 0", "LockRect 0 whole 8192"};

INSTANTIATE_TEST_SUITE_P(Cases, BitmapRefusal,
                         testing::Values(Refusal{"NullBitmap", true, false, false, 4, 3, false, false, 16, {}},
                                         Refusal{"NullTexture", false, true, false, 4, 3, false, false, 16, {}},
                                         Refusal{"DescFails", false, false, true, 4, 3, false, false, 16, DESC_ONLY},
                                         Refusal{"TooNarrow", false, false, false, 3, 3, false, false, 16, DESC_ONLY},
                                         Refusal{"TooShort", false, false, false, 4, 2, false, false, 16, DESC_ONLY},
                                         Refusal{"LockFails", false, false, false, 4, 3, true, false, 16, LOCK_FAILED},
                                         Refusal{"NullBits", false, false, false, 4, 3, false, true, 16, COPIED},
                                         Refusal{"PitchTooSmall", false, false, false, 4, 3, false, false, 12, COPIED},
                                         Refusal{"NegativePitch", false, false, false, 4, 3, false, false, -16,
                                                 COPIED}),
                         [](const testing::TestParamInfo<Refusal>& info) { return info.param.name; });

}  // namespace
