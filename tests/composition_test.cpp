#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "imaging/composition.h"
#include "imaging/image_loading.h"
#include "test_support.h"

namespace {

using Gdiplus::ARGB;
constexpr ARGB kMidGray = 0xFF808080;
constexpr ARGB kWhite = 0xFFFFFFFF;

void LoadForComposition(const wchar_t* fixture, int clientWidth, int clientHeight) {
    ResetApp();
    ASSERT_TRUE(LoadImageFile(FixturePath(fixture).c_str()));
    app.clientWidth = clientWidth;
    app.clientHeight = clientHeight;
    app.backgroundIndex = 1;
}

// The back buffer is client-sized 32bppARGB, `inside` within rect and `outside` elsewhere.
void ExpectBackBuffer(const Placement& rect, ARGB inside, ARGB outside) {
    ASSERT_TRUE(app.backBuffer);
    ASSERT_EQ(app.backBuffer->GetWidth(), static_cast<UINT>(app.clientWidth));
    ASSERT_EQ(app.backBuffer->GetHeight(), static_cast<UINT>(app.clientHeight));
    ASSERT_EQ(app.backBuffer->GetPixelFormat(), PixelFormat32bppARGB);
    int wrong = 0;
    for (int y = 0; y < app.clientHeight; ++y) {
        for (int x = 0; x < app.clientWidth; ++x) {
            const bool in =
                x >= rect.x && x < rect.x + rect.width && y >= rect.y && y < rect.y + rect.height;
            const ARGB actual = BackBufferPixel(x, y);
            if (actual != (in ? inside : outside) && wrong++ == 0) {
                ADD_FAILURE() << "first wrong pixel " << x << "," << y << ": " << std::hex
                              << actual;
            }
        }
    }
    EXPECT_EQ(wrong, 0);
}

struct ComposeCase {
    const wchar_t* fixture;
    int clientWidth, clientHeight;
    bool fit, smooth;
    float zoom;
    int panX, panY;
    ARGB color;
    Placement visible;
};

class CompositionTest : public testing::TestWithParam<ComposeCase> {};

TEST_P(CompositionTest, DrawsThePictureExactlyIntoItsPlacement) {
    const ComposeCase& c = GetParam();
    SCOPED_TRACE(c.fixture);
    LoadForComposition(c.fixture, c.clientWidth, c.clientHeight);
    app.fitToWindow = c.fit;
    app.smoothScaling = c.smooth;
    app.zoom = c.zoom;
    app.panX = c.panX;
    app.panY = c.panY;
    ComposeBackBuffer();
    ExpectBackBuffer(c.visible, c.color, kMidGray);
}

INSTANTIATE_TEST_SUITE_P(
    Composition, CompositionTest,
    testing::Values(
        ComposeCase{L"red_40x30.png", 100, 80, false, true, 1, 0, 0, kOpaqueRed, {30, 25, 40, 30}},
        ComposeCase{L"red_40x30.png", 100, 80, false, false, 1, 0, 0, kOpaqueRed, {30, 25, 40, 30}},
        ComposeCase{L"red_40x30.png", 1, 1, false, true, 1, 0, 0, kOpaqueRed, {0, 0, 1, 1}},
        // Odd width: the left edge is the client middle less half the width, rounded down.
        ComposeCase{
            L"green_101x51.bmp", 200, 100, false, true, 1, 0, 0, kOpaqueGreen, {50, 25, 101, 51}},
        // Panned past the top left corner: only the part still inside the client shows.
        ComposeCase{L"red_40x30.png", 100, 80, false, true, 1, 40, 30, kOpaqueRed, {0, 0, 30, 25}},
        // Fitted at scale 1 and at half size.
        ComposeCase{L"red_40x30.png", 40, 60, true, true, 1, 0, 0, kOpaqueRed, {0, 15, 40, 30}},
        ComposeCase{L"red_40x30.png", 20, 20, true, true, 1, 0, 0, kOpaqueRed, {0, 3, 20, 15}}));

TEST(Composition, ClearsToEachBackgroundWhichShowsThroughTransparency) {
    // An asymmetric system colour shows whether the bytes reach the buffer in ARGB order.
    const int element = COLOR_BTNFACE;
    const COLORREF original = GetSysColor(element), custom = RGB(0x10, 0x20, 0x30);
    ASSERT_TRUE(SetSysColors(1, &element, &custom));
    const ARGB backgrounds[] = {0xFF102030, 0xFF000000, kMidGray, kWhite};
    for (int index = -1; index <= 2; ++index) {
        SCOPED_TRACE(index);
        LoadForComposition(L"transparent_20x20.png", 40, 20);
        app.fitToWindow = false;
        app.backgroundIndex = index;
        ComposeBackBuffer();
        // The picture covers x 10..29; its left half is transparent.
        ExpectBackBuffer({20, 0, 10, 20}, kOpaqueBlue, backgrounds[index + 1]);
    }
    SetSysColors(1, &element, &original);
}

TEST(Composition, WithoutADecodedPictureOnlyTheBackgroundShows) {
    ResetApp();
    app.clientWidth = 8;
    app.clientHeight = 6;
    app.backgroundIndex = 2;
    ComposeBackBuffer();
    ExpectBackBuffer({}, 0, kWhite);

    LoadForComposition(L"red_40x30.png", 100, 80);
    EXPECT_FALSE(LoadImageFile(FixturePath(L"truncated.png").c_str()));
    ComposeBackBuffer();
    ExpectBackBuffer({}, 0, kMidGray);
}

TEST(Composition, AClientWithoutAreaHasNoBackBuffer) {
    for (const SIZE size : {SIZE{0, 0}, SIZE{0, 80}, SIZE{100, 0}}) {
        LoadForComposition(L"red_40x30.png", 100, 80);
        ComposeBackBuffer();
        ASSERT_TRUE(app.backBuffer);
        app.clientWidth = size.cx;
        app.clientHeight = size.cy;
        ComposeBackBuffer();
        EXPECT_FALSE(app.backBuffer) << size.cx << "x" << size.cy;
    }
}

// The thirds picture enlarged 2.5 times covers {0, 10, 750, 250} of a 750x270 client.
std::vector<ARGB> ComposeThirds(bool smooth) {
    LoadForComposition(L"thirds_300x100.png", 750, 270);
    app.smoothScaling = smooth;
    ComposeBackBuffer();
    std::vector<ARGB> pixels;
    for (int y = 0; y < app.clientHeight; ++y) {
        for (int x = 0; x < app.clientWidth; ++x) pixels.push_back(BackBufferPixel(x, y));
    }
    return pixels;
}

TEST(Composition, NearestNeighbourKeepsPureColoursWhereBilinearBlends) {
    const std::vector<ARGB> nearest = ComposeThirds(false), smooth = ComposeThirds(true);
    EXPECT_EQ(std::set<ARGB>(nearest.begin(), nearest.end()),
              (std::set<ARGB>{kOpaqueRed, kOpaqueGreen, kOpaqueBlue, kMidGray}));
    EXPECT_GT(std::set<ARGB>(smooth.begin(), smooth.end()).size(), 4u);
}

// The icon's colour bitmap, top row first, as ARGB; fails unless the icon is size square.
std::vector<DWORD> IconPixels(HICON icon, int size) {
    ICONINFO info = {};
    BITMAP bitmap = {};
    EXPECT_TRUE(GetIconInfo(icon, &info));
    GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, size);
    EXPECT_EQ(bitmap.bmHeight, size);
    BITMAPINFO format = {};
    format.bmiHeader = {sizeof format.bmiHeader, size, -size, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(size * size);
    const HDC screen = GetDC(nullptr);
    GetDIBits(screen, info.hbmColor, 0, size, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return pixels;
}

// One letter per column, the same in every row: R red, G green, B blue, _ clear, and ? where
// two colours meet.
void ExpectIcon(const wchar_t* fixture, int size, const std::string& row) {
    LoadForComposition(fixture, 0, 0);
    const HICON icon = MakeImageIcon(size);
    const std::vector<DWORD> pixels = IconPixels(icon, size);
    DestroyIcon(icon);
    const std::map<char, DWORD> colors = {
        {'R', kOpaqueRed}, {'G', kOpaqueGreen}, {'B', kOpaqueBlue}, {'_', 0}};
    for (int i = 0; i < size * size; ++i) {
        const char expected = row.at(i % size);
        if (expected == '?') continue;
        ASSERT_EQ(pixels[i], colors.at(expected)) << "at " << i % size << "," << i / size;
    }
}

TEST(Icons, StretchThePictureToTheSquareAndKeepItsTransparency) {
    ExpectIcon(L"thirds_300x100.png", 16, "RRRRR?GGGG?BBBBB");
    ExpectIcon(L"thirds_300x100.png", 32, "RRRRRRRRRR?GGGGGGGGGG?BBBBBBBBBB");
    ExpectIcon(L"transparent_20x20.png", 16, "________BBBBBBBB");
}

HICON WindowIcon(WPARAM which) {
    return reinterpret_cast<HICON>(SendMessageW(app.window, WM_GETICON, which, 0));
}

TEST(Icons, RefreshReplacesBothWindowIcons) {
    OpenViewerOn(FixturePath(L"thirds_300x100.png"));
    const HICON oldSmall = app.smallIcon, oldBig = app.bigIcon;
    ASSERT_TRUE(oldSmall && oldBig);
    RefreshWindowIcons();
    EXPECT_EQ(WindowIcon(ICON_SMALL), app.smallIcon);
    EXPECT_EQ(WindowIcon(ICON_BIG), app.bigIcon);
    EXPECT_NE(app.smallIcon, oldSmall);
    EXPECT_NE(app.bigIcon, oldBig);
    // The replaced icons are destroyed, not leaked.
    ICONINFO info;
    EXPECT_FALSE(GetIconInfo(oldSmall, &info));
    EXPECT_FALSE(GetIconInfo(oldBig, &info));
}

// A real window on top, at its 128 pixel minimum, the picture at actual size in x 44..83, y 49..78.
class PresentTest : public testing::Test {
protected:
    void SetUp() override {
        OpenViewerOn(FixturePath(L"red_40x30.png"));
        SetWindowPos(app.window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
        ASSERT_EQ(app.clientWidth, 128);
        ASSERT_EQ(app.clientHeight, 128);
    }
    void TearDown() override {
        ResetApp();
    }
};

// Wine copies a window's drawing to the screen while the thread pumps messages.
COLORREF ScreenPixelOnceShown(int x, int y, COLORREF expected) {
    WaitFor([&] { return ScreenPixel(x, y) == expected; });
    return ScreenPixel(x, y);
}

TEST_F(PresentTest, ShowsTheComposedBuffer) {
    app.backgroundIndex = 2;
    ComposeBackBuffer();
    Present();
    const COLORREF red = RGB(255, 0, 0), white = RGB(255, 255, 255);
    const POINT reds[] = {{44, 49}, {83, 78}}, whites[] = {{0, 0}, {43, 49}, {84, 78}, {127, 127}};
    for (const POINT p : reds) EXPECT_EQ(ScreenPixelOnceShown(p.x, p.y, red), red);
    for (const POINT p : whites) EXPECT_EQ(ScreenPixelOnceShown(p.x, p.y, white), white);
}

TEST_F(PresentTest, WithoutABackBufferDrawsNothingButValidates) {
    app.backgroundIndex = 0;
    ComposeBackBuffer();
    Present();
    ASSERT_EQ(ScreenPixelOnceShown(0, 0, RGB(0, 0, 0)), RGB(0, 0, 0));
    app.backBuffer.reset();
    InvalidateRect(app.window, nullptr, TRUE);
    Present();
    EXPECT_FALSE(GetUpdateRect(app.window, nullptr, FALSE));
    PumpMessages();
    EXPECT_EQ(ScreenPixel(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(ScreenPixel(44, 49), RGB(255, 0, 0));
}

}  // namespace
