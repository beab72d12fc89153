// The composition's faster routes must give exactly the pixels of the straightforward one.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "core/geometry.h"
#include "imaging/composition.h"
#include "imaging/image_loading.h"
#include "test_support.h"

namespace {

using Gdiplus::ARGB;

std::vector<ARGB> PixelsOf(Gdiplus::Bitmap& bitmap) {
    const int width = static_cast<int>(bitmap.GetWidth()),
              height = static_cast<int>(bitmap.GetHeight());
    std::vector<ARGB> pixels(size_t(width) * height);
    Gdiplus::Rect all(0, 0, width, height);
    Gdiplus::BitmapData data = {};
    data.Width = width;
    data.Height = height;
    data.Stride = width * 4;
    data.PixelFormat = PixelFormat32bppARGB;
    data.Scan0 = pixels.data();
    bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                    PixelFormat32bppARGB, &data);
    bitmap.UnlockBits(&data);
    return pixels;
}

// The reference: a fresh bitmap cleared to the background, the whole picture drawn scaled into
// its placement.
std::vector<ARGB> ReferenceComposition() {
    const Placement rect = ComputePlacement(app);
    Gdiplus::Bitmap buffer(app.clientWidth, app.clientHeight, PixelFormat32bppARGB);
    Gdiplus::Graphics graphics(&buffer);
    graphics.SetInterpolationMode(app.smoothScaling ? Gdiplus::InterpolationModeHighQualityBilinear
                                                    : Gdiplus::InterpolationModeNearestNeighbor);
    graphics.Clear(Gdiplus::Color(ToOpaqueArgb(ResolveBackgroundColor(app))));
    if (app.image) graphics.DrawImage(app.image.get(), rect.x, rect.y, rect.width, rect.height);
    return PixelsOf(buffer);
}

// Where the two differ first, and in how many pixels.
testing::AssertionResult SamePixels(const std::vector<ARGB>& actual,
                                    const std::vector<ARGB>& expected, int width) {
    if (actual.size() != expected.size()) return testing::AssertionFailure() << "sizes differ";
    size_t first = actual.size(), count = 0;
    for (size_t i = 0; i < actual.size(); ++i) {
        if (actual[i] == expected[i]) continue;
        first = std::min(first, i);
        ++count;
    }
    if (!count) return testing::AssertionSuccess();
    char colours[40];
    std::snprintf(colours, sizeof colours, "%08lX for %08lX",
                  static_cast<unsigned long>(actual[first]),
                  static_cast<unsigned long>(expected[first]));
    return testing::AssertionFailure() << count << " pixels differ, first at " << first % width
                                       << "," << first / width << ": " << colours;
}

struct View {
    const char* what;
    bool fit;
    float zoom;
    int panX, panY;
};

// Fit, zoom up and down, centred and off every edge, covering the client or only part of it.
constexpr View kViews[] = {
    {"fit", true, 1, 0, 0},
    {"actual size", false, 1, 0, 0},
    {"zoom 2", false, 2, 0, 0},
    {"zoom 4, panned", false, 4, 37, -23},
    {"zoom 8, off the left top", false, 8, -400, -300},
    {"zoom 8, off the right bottom", false, 8, 400, 300},
    {"zoom 0.5", false, 0.5f, 3, 5},
    {"zoom 0.25, panned away", false, 0.25f, 90, -70},
    {"zoom 3, odd", false, 3, 1, 1},
    // In the 40x30 client these put the edges of the 97x61 picture just off, on and inside the
    // client's border.
    {"zoom 1, left top just off", false, 1, -27, -14},
    {"zoom 1, left top on", false, 1, -28, -15},
    {"zoom 1, left top inside", false, 1, -29, -16},
    {"zoom 1, right bottom just off", false, 1, 28, 15},
    {"zoom 1, right bottom on", false, 1, 29, 16},
    {"zoom 8, left top just off", false, 8, -363, -224},
    {"zoom 8, right bottom just off", false, 8, 371, 232},
};

constexpr SIZE kClients[] = {{301, 199}, {64, 200}, {40, 30}, {1, 1}};

TEST(CompositionIdentity, EveryViewMatchesTheStraightforwardComposition) {
    const wchar_t* pictures[] = {L"noise_97x61.png", L"noise_rgba_53x37.png", L"anim3_16x16.gif",
                                 L"gray_64x48.jpg"};
    for (const wchar_t* picture : pictures) {
        ResetApp();
        ASSERT_TRUE(LoadImageFile(FixturePath(picture).c_str()));
        app.currentFrame = app.frameCount - 1;
        app.image->SelectActiveFrame(&app.frameDimension, app.currentFrame);
        for (const SIZE client : kClients) {
            for (const View& view : kViews) {
                for (const bool smooth : {true, false}) {
                    SCOPED_TRACE(testing::Message()
                                 << testing::PrintToString(std::wstring(picture)) << " in "
                                 << client.cx << "x" << client.cy << ", " << view.what
                                 << (smooth ? ", smooth" : ", nearest"));
                    app.clientWidth = client.cx;
                    app.clientHeight = client.cy;
                    app.fitToWindow = view.fit;
                    app.zoom = view.zoom;
                    app.panX = view.panX;
                    app.panY = view.panY;
                    app.smoothScaling = smooth;
                    app.backgroundIndex = smooth ? 1 : -1;
                    ComposeBackBuffer();
                    ASSERT_TRUE(app.backBuffer);
                    EXPECT_TRUE(
                        SamePixels(PixelsOf(*app.backBuffer), ReferenceComposition(), client.cx));
                }
            }
        }
    }
}

struct Change {
    const char* what;
    void (*apply)();
};

// Pans between other changes, each composition held to the reference: a pan at a power-of-two
// scale moves the buffer's pixels, and whatever else changed must not be mistaken for a pan.
constexpr Change kChanges[] = {
    {"pan right", [] { app.panX += 8; }},
    {"pan left and down", [] { app.panX -= 3, app.panY += 5; }},
    {"pan by one", [] { app.panY -= 1; }},
    {"pan beyond the client", [] { app.panX += 400; }},
    {"pan back", [] { app.panX -= 395; }},
    {"zoom 4", [] { app.zoom = 4; }},
    {"pan at 4", [] { app.panX += 13, app.panY -= 7; }},
    {"zoom 1/2", [] { app.zoom = 0.5f; }},
    {"pan at 1/2", [] { app.panX -= 9, app.panY += 2; }},
    {"zoom 3", [] { app.zoom = 3; }},
    {"pan at 3", [] { app.panX += 8; }},
    {"zoom 1", [] { app.zoom = 1; }},
    {"pan at 1", [] { app.panY += 8; }},
    {"fit", [] { app.fitToWindow = true; }},
    {"pan in fit mode", [] { app.panX += 8; }},
    {"zoom 2", [] { app.fitToWindow = false, app.zoom = 2; }},
    {"filter", [] { app.smoothScaling = !app.smoothScaling; }},
    {"pan after the filter", [] { app.panX -= 8; }},
    {"background", [] { app.backgroundIndex = 2; }},
    {"pan after the background", [] { app.panY -= 8; }},
    {"another picture of the same size",
     [] { LoadImageFile(FixturePath(L"noise2_97x61.png").c_str()); }},
    {"pan on it", [] { app.panX += 1; }},
    {"next frame", [] { app.image->SelectActiveFrame(&app.frameDimension, ++app.currentFrame); }},
    {"pan on the frame", [] { app.panY += 2; }},
    {"picture gone", [] { app.image.reset(); }},
    {"pan without a picture", [] { app.panX += 8; }},
};

TEST(CompositionIdentity, PansBetweenOtherChangesMatchTheStraightforwardComposition) {
    for (const wchar_t* picture :
         {L"noise_97x61.png", L"noise_rgba_53x37.png", L"anim3_16x16.gif"}) {
        ResetApp();
        ASSERT_TRUE(LoadImageFile(FixturePath(picture).c_str()));
        app.clientWidth = 150;
        app.clientHeight = 90;
        app.fitToWindow = false;
        app.zoom = 2;
        ComposeBackBuffer();
        for (const Change& change : kChanges) {
            SCOPED_TRACE(testing::Message()
                         << testing::PrintToString(std::wstring(picture)) << ", " << change.what);
            if (!std::strcmp(change.what, "next frame") && app.frameCount < 2) continue;
            change.apply();
            ComposeBackBuffer();
            ASSERT_TRUE(app.backBuffer);
            EXPECT_TRUE(SamePixels(PixelsOf(*app.backBuffer), ReferenceComposition(), 150));
        }
    }
}

// What the screen shows of the window, 0x00RRGGBB as in the back buffer.
std::vector<ARGB> ScreenPixels(int width, int height) {
    std::vector<ARGB> pixels(size_t(width) * height);
    POINT origin = {0, 0};
    ClientToScreen(app.window, &origin);
    const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, height, pixels.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    for (ARGB& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
}

TEST(CompositionIdentity, PresentShowsTheBackBufferExactly) {
    OpenViewerOn(FixturePath(L"noise_rgba_53x37.png"));
    app.fitToWindow = false;
    app.zoom = 2;
    app.panX = 11;
    Refresh();
    std::vector<ARGB> shown = PixelsOf(*app.backBuffer);
    for (ARGB& pixel : shown) pixel &= 0xFFFFFF;
    EXPECT_TRUE(WaitFor([&] { return ScreenPixels(app.clientWidth, app.clientHeight) == shown; }));
    EXPECT_TRUE(
        SamePixels(ScreenPixels(app.clientWidth, app.clientHeight), shown, app.clientWidth));
}

}  // namespace
