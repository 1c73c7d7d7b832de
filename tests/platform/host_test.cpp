// The host stand-in: record layout, look-up, _chr, ang_rotate and the texture.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "platform/host/host.h"
#include "plugin/host_function_names.h"
#include "plugin/host_records.h"
#include "tests/support/loaded_plugin.h"
#include "tests/support/paths.h"

namespace {

using namespace zelk::host;

template <typename T>
T wordAt(const void* record, std::size_t offset) {
    T word;
    std::memcpy(&word, static_cast<const unsigned char*>(record) + offset, sizeof word);
    return word;
}

TEST(HostRecords, WordsSitAtTheHostOffsetsAndTheReadersFindThem) {
    const char* text = "patterns/a.patt";
    HostString string = makeString(text);
    EXPECT_EQ(wordAt<const char*>(&string, 12), text);
    EXPECT_EQ(zelk::hostStringChars(&string), text);
    EXPECT_STREQ(chr(&string), text);

    Texture texture(4, 4, 16);
    HostBitmap bitmap = makeBitmap(&texture);
    EXPECT_EQ(wordAt<IDirect3DTexture9*>(&bitmap, 36), &texture);
    EXPECT_EQ(zelk::hostBitmapTexture(&bitmap), &texture);

    HostInterface* record = interfaceRecord();
    EXPECT_EQ(wordAt<LookupFunction>(record, 2608), &lookup);
    EXPECT_EQ(zelk::hostInterfaceLookup(record), &lookup);

    const HostVector vector = makeVector(1.5, -2.0, 0.0009);
    EXPECT_EQ(vector.x, 1536);
    EXPECT_EQ(vector.y, -2048);
    EXPECT_EQ(vector.z, 0);
    const HostAngle angle = makeAngle(0, -90, 45.5);
    EXPECT_EQ(angle.tilt, -92160);
    EXPECT_EQ(angle.roll, 46592);
}

TEST(HostLookup, EveryListedNameHasItsOwnAddress) {
    clearLog();
    std::set<void*> addresses;
    std::set<std::string> names;
    for (const char* name : zelk::HOST_FUNCTION_NAMES) {
        void* address = lookup(name);
        ASSERT_NE(address, nullptr) << name;
        if (names.insert(name).second) addresses.insert(address);
        EXPECT_EQ(lookup(name), address) << name;
    }
    EXPECT_EQ(names.size(), 407u);
    EXPECT_EQ(addresses.size(), 407u);
    EXPECT_EQ(lookup("no_such_function"), nullptr);
    EXPECT_EQ(lookup(nullptr), nullptr);
    EXPECT_EQ(lookup("_chr"), reinterpret_cast<void*>(&chr));
    EXPECT_EQ(lookup("ang_rotate"), reinterpret_cast<void*>(&angRotate));
    EXPECT_EQ(lookupLog().size(), 2u * zelk::HOST_LOOKUP_COUNT + 4);

    // The other functions only note that they were called.
    reinterpret_cast<void* (*)()>(lookup("vec_add"))();
    ASSERT_EQ(genericCallLog().size(), 1u);
    EXPECT_EQ(genericCallLog()[0], "vec_add");
}

TEST(HostLookup, ThePluginLooksUpEveryNameOnceInOrder) {
    LoadedPlugin plugin;
    ASSERT_EQ(loadPlugin(pluginPath(), &plugin), "");
    clearLog();
    EXPECT_EQ(plugin.dllapi(interfaceRecord()), 630);
    ASSERT_EQ(lookupLog().size(), 409u);
    EXPECT_EQ(lookupLog().front(), "_chr");
    EXPECT_EQ(lookupLog().back(), "engine_debugstep");
    for (int i = 0; i < zelk::HOST_LOOKUP_COUNT; ++i) EXPECT_EQ(lookupLog()[i], zelk::HOST_FUNCTION_NAMES[i]);
    EXPECT_TRUE(genericCallLog().empty());
    unloadPlugin(&plugin);
}

// Rotations in host coordinates (x forward, y left, z up).
typedef std::array<std::array<double, 3>, 3> Matrix;

Matrix axisRotation(int axis, double degrees) {
    const double a = degrees * M_PI / 180, c = std::cos(a), s = std::sin(a);
    Matrix m{};
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    m[axis][axis] = 1;
    m[i][i] = c;
    m[i][j] = -s;
    m[j][i] = s;
    m[j][j] = c;
    return m;
}

Matrix product(const Matrix& a, const Matrix& b) {
    Matrix p{};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            for (int k = 0; k < 3; ++k) p[r][c] += a[r][k] * b[k][c];
    return p;
}

Matrix matrixOf(const HostAngle& angle) {
    double m[3][3];
    angleToMatrix(angle, m);
    Matrix out;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) out[r][c] = m[r][c];
    return out;
}

double distance(const Matrix& a, const Matrix& b) {
    double worst = 0;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) worst = std::max(worst, std::fabs(a[r][c] - b[r][c]));
    return worst;
}

TEST(HostAngles, ComponentsTurnAboutTheDocumentedAxes) {
    // Pan about up, tilt lifts the nose, roll lowers the left side.
    EXPECT_LT(distance(matrixOf(makeAngle(30, 0, 0)), axisRotation(2, 30)), 1e-9);
    EXPECT_LT(distance(matrixOf(makeAngle(0, 30, 0)), axisRotation(1, -30)), 1e-9);
    EXPECT_LT(distance(matrixOf(makeAngle(0, 0, 30)), axisRotation(0, -30)), 1e-9);
    const Matrix m = matrixOf(makeAngle(10, 20, 30));
    EXPECT_LT(distance(m, product(product(axisRotation(2, 10), axisRotation(0, -30)), axisRotation(1, -20))), 1e-9);
}

TEST(HostAngles, RotateComposesInTheAnglesOwnFrame) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> any(-180, 180), roll(-90, 90);
    for (int trial = 0; trial < 500; ++trial) {
        HostAngle angle = makeAngle(any(random), any(random), roll(random));
        HostAngle rotation = makeAngle(any(random), any(random), roll(random));
        const Matrix expected = product(matrixOf(angle), matrixOf(rotation));
        EXPECT_EQ(angRotate(&angle, &rotation), &angle.pan);
        EXPECT_LT(distance(matrixOf(angle), expected), 1e-4) << trial;
        EXPECT_GT(angle.pan, -180 * 1024);
        EXPECT_LE(angle.pan, 180 * 1024);
        EXPECT_GT(angle.tilt, -180 * 1024);
        EXPECT_LE(angle.tilt, 180 * 1024);
        EXPECT_GE(angle.roll, -90 * 1024);
        EXPECT_LE(angle.roll, 90 * 1024);
    }
}

TEST(HostAngles, RotateHandlesAQuarterRoll) {
    HostAngle angle = makeAngle(40, 0, 90);
    HostAngle rotation = makeAngle(0, 25, 0);
    const Matrix expected = product(matrixOf(angle), matrixOf(rotation));
    angRotate(&angle, &rotation);
    EXPECT_LT(distance(matrixOf(angle), expected), 1e-4);
}

TEST(HostTexture, LocksAWholeLevelWithItsPitch) {
    Texture texture(3, 2, 20, 7);
    D3DSURFACE_DESC desc;
    ASSERT_EQ(texture.GetLevelDesc(0, &desc), D3D_OK);
    EXPECT_EQ(desc.Width, 3u);
    EXPECT_EQ(desc.Height, 2u);
    EXPECT_EQ(texture.GetLevelDesc(1, &desc), D3DERR_INVALIDCALL);

    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture.LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), D3D_OK);
    EXPECT_EQ(locked.Pitch, 20);
    EXPECT_EQ(locked.pBits, texture.buffer.data());
    EXPECT_EQ(texture.lastLockFlags, static_cast<DWORD>(D3DLOCK_DISCARD));
    EXPECT_EQ(texture.LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    static_cast<unsigned char*>(locked.pBits)[1 * 20 + 2 * 4] = 99;
    EXPECT_EQ(*texture.texel(2, 1), 99);
    EXPECT_EQ(texture.UnlockRect(0), D3D_OK);
    EXPECT_EQ(texture.UnlockRect(0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture.lockCount, 1);
    EXPECT_EQ(texture.unlockCount, 1);
    EXPECT_EQ(texture.buffer.size(), 40u);
    EXPECT_EQ(texture.buffer[39], 7);

    texture.failLock = true;
    EXPECT_EQ(texture.LockRect(0, &locked, nullptr, 0), D3DERR_INVALIDCALL);
    EXPECT_EQ(texture.lockCount, 1);
}

}  // namespace
