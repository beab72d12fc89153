#include <gtest/gtest.h>

#include "core/app_state.h"
#include "core/view_commands.h"
#include "imaging/composition.h"
#include "test_support.h"

namespace {

HCURSOR ClassCursor() {
    return reinterpret_cast<HCURSOR>(GetClassLongPtrW(app.window, GCLP_HCURSOR));
}

HBRUSH ClassBrush() {
    return reinterpret_cast<HBRUSH>(GetClassLongPtrW(app.window, GCLP_HBRBACKGROUND));
}

// thirds_300x100 in a 150 x 150 client: fitted at half size, 150 x 50 in the middle.
class ViewCommandsTest : public testing::Test {
protected:
    void SetUp() override {
        OpenViewerOn(FixturePath(L"thirds_300x100.png"));
        app.clientWidth = 150;
        app.clientHeight = 150;
    }
    void TearDown() override {
        ResetApp();
    }
};

TEST_F(ViewCommandsTest, ZoomStepFromFitModeDoublesOrHalvesTheFittedFactor) {
    const struct {
        int direction;
        float zoom;
    } cases[] = {{+1, 1.0f}, {+3, 1.0f}, {-1, 0.25f}, {0, 0.25f}};
    for (const auto& c : cases) {
        SetFitMode(true);
        ZoomStep(c.direction);
        EXPECT_FALSE(app.fitToWindow);
        EXPECT_EQ(app.zoom, c.zoom) << "direction " << c.direction;
        EXPECT_EQ(ClassCursor(), LoadCursorW(nullptr, IDC_SIZEALL));
    }
    // From zoom mode the step starts from the zoom in force.
    ZoomStep(+1);
    ZoomStep(+1);
    EXPECT_EQ(app.zoom, 1.0f);
    // 300 x 100 at actual size from x = -75: red, green, blue thirds.
    EXPECT_EQ(BackBufferPixel(0, 75), kOpaqueRed);
    EXPECT_EQ(BackBufferPixel(75, 75), kOpaqueGreen);
    EXPECT_EQ(BackBufferPixel(149, 75), kOpaqueBlue);

    // The pan follows the zoom, truncated toward zero and saturated.
    const struct {
        int direction, panX, expectedPanX;
    } pans[] = {{-1, -7, -3}, {+1, -7, -14}, {-1, 7, 3}, {+1, 2147483647, 2147483647}};
    for (const auto& c : pans) {
        app.panX = app.panY = c.panX;
        ZoomStep(c.direction);
        EXPECT_EQ(app.panX, c.expectedPanX) << c.panX << " direction " << c.direction;
        EXPECT_EQ(app.panY, c.expectedPanX);
    }
}

TEST_F(ViewCommandsTest, ActualSizeNeedsASecondPressToClearThePan) {
    ToggleFit();
    ToggleFit();
    EXPECT_EQ(ClassCursor(), LoadCursorW(nullptr, IDC_ARROW));
    ActualSize();
    EXPECT_EQ(app.zoom, 1.0f);
    EXPECT_FALSE(app.fitToWindow);
    EXPECT_EQ(ClassCursor(), LoadCursorW(nullptr, IDC_SIZEALL));
    app.zoom = 2.0f;
    app.panX = 40;
    ActualSize();
    EXPECT_EQ(app.zoom, 1.0f);
    EXPECT_EQ(app.panX, 40);
    // Panned 40 pixels: the image starts at x = -115, so green ends at 84.
    EXPECT_EQ(BackBufferPixel(60, 75), kOpaqueGreen);
    EXPECT_EQ(BackBufferPixel(100, 75), kOpaqueBlue);
    ActualSize();
    EXPECT_EQ(app.panX, 0);
    EXPECT_EQ(BackBufferPixel(10, 75), kOpaqueRed);
    EXPECT_EQ(BackBufferPixel(75, 75), kOpaqueGreen);
    EXPECT_EQ(BackBufferPixel(140, 75), kOpaqueBlue);
}

TEST_F(ViewCommandsTest, BackgroundCyclesBlackGrayWhiteAndReplacesTheClassBrush) {
    const BYTE expected[] = {0, 128, 255, 0};
    HBRUSH previous = ClassBrush();
    for (const BYTE gray : expected) {
        CycleBackground();
        LOGBRUSH brush;
        ASSERT_EQ(GetObjectW(ClassBrush(), sizeof brush, &brush), int(sizeof brush));
        EXPECT_EQ(brush.lbColor, gray * 0x010101u);
        EXPECT_EQ(BackBufferPixel(0, 0), 0xFF000000u | gray * 0x010101u);
        // The replaced brush is gone, so hours of cycling leak nothing.
        EXPECT_EQ(GetObjectType(previous), 0u);
        previous = ClassBrush();
    }
    EXPECT_EQ(app.backgroundIndex, 0);
}

TEST_F(ViewCommandsTest, PanInFitModeChangesNothingVisibleUntilZoomModeReturns) {
    ComposeBackBuffer();
    const Gdiplus::ARGB before = BackBufferPixel(10, 60);
    Pan(30, 0);
    EXPECT_EQ(BackBufferPixel(10, 60), before);
    EXPECT_EQ(app.panX, 30);
    ZoomStep(+1);  // fitted 0.5 doubled: 300 x 100 from x = 75 - 150 - 60 = -135
    EXPECT_EQ(app.panX, 60);
    EXPECT_EQ(BackBufferPixel(0, 75), kOpaqueGreen);
    ToggleFit();
    ToggleFit();
    EXPECT_EQ(app.zoom, 1.0f);
    EXPECT_EQ(app.panX, 60);
}

// Pixels of row 75 around the green-blue edge that are neither colour.
int BlendedPixelsAtTheEdge() {
    int blended = 0;
    for (int x = 240; x < 260; ++x) {
        const Gdiplus::ARGB pixel = BackBufferPixel(x, 75);
        blended += pixel != kOpaqueGreen && pixel != kOpaqueBlue;
    }
    return blended;
}

TEST_F(ViewCommandsTest, SmoothingSwitchesTheFilterOnly) {
    app.clientWidth = 300;
    ActualSize();
    ZoomStep(+1);  // 600 x 200 from x = -150: the green-blue edge is near x 250
    EXPECT_GT(BlendedPixelsAtTheEdge(), 0);
    ToggleSmoothing();
    EXPECT_FALSE(app.smoothScaling);
    EXPECT_EQ(BlendedPixelsAtTheEdge(), 0);
    EXPECT_EQ(BackBufferPixel(240, 75), kOpaqueGreen);
    EXPECT_EQ(BackBufferPixel(260, 75), kOpaqueBlue);
}

}  // namespace
