#include <gtest/gtest.h>

#include <vector>

#include "core/animation.h"
#include "core/app_state.h"
#include "imaging/composition.h"
#include "test_support.h"

namespace {

class AnimationTest : public testing::Test {
protected:
    void TearDown() override {
        ResetApp();
    }
};

Gdiplus::ARGB ShownColor() {
    return BackBufferPixel(app.clientWidth / 2, app.clientHeight / 2);
}

// The centre pixel of the big window icon.
COLORREF BigIconCenter() {
    ICONINFO info;
    if (!GetIconInfo(app.bigIcon, &info)) return CLR_INVALID;
    BITMAPINFO format = {};
    format.bmiHeader = {sizeof(BITMAPINFOHEADER), 32, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<DWORD> pixels(32 * 32);
    const HDC screen = GetDC(nullptr);
    GetDIBits(screen, info.hbmColor, 0, 32, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    const DWORD bgra = pixels[16 * 32 + 16];
    return RGB(bgra >> 16 & 0xFF, bgra >> 8 & 0xFF, bgra & 0xFF);
}

TEST_F(AnimationTest, FrameStepsWrapAtBothEndsAndShowTheFrame) {
    OpenViewerOn(FixturePath(L"anim3_16x16.gif"));
    ToggleAnimation();
    const Gdiplus::ARGB colors[] = {kOpaqueRed, kOpaqueGreen, kOpaqueBlue};
    const struct {
        int from, step, to;
    } cases[] = {{0, +1, 1}, {1, +1, 2}, {2, +1, 0}, {0, -1, 2}, {2, -1, 1}, {1, -1, 0}};
    for (const auto& c : cases) {
        ShowFrame(c.from);
        StepFrame(c.step);
        EXPECT_EQ(app.currentFrame, c.to) << c.from << " step " << c.step;
        EXPECT_EQ(ShownColor(), colors[c.to]);
    }
    EXPECT_EQ(app.timerId, 0u);
    // A timer message of any identifier is a step forward.
    SendMessageW(app.window, WM_TIMER, 12345, 0);
    EXPECT_EQ(app.currentFrame, 1);
    // While the file on show is being deleted there is no image: frames wait for the next.
    app.image.reset();
    StepFrame(+1);
    SendMessageW(app.window, WM_TIMER, 1, 0);
    ShowFrame(2);
    EXPECT_EQ(app.currentFrame, 1);
}

TEST_F(AnimationTest, AStillImageStaysOnFrameZeroWithoutATimer) {
    OpenViewerOn(FixturePath(L"red_40x30.png"));
    EXPECT_EQ(app.timerId, 0u);
    for (const int step : {+1, -1}) {
        StepFrame(step);
        EXPECT_EQ(app.currentFrame, 0);
        EXPECT_EQ(app.timerId, 0u);
        EXPECT_EQ(ShownColor(), kOpaqueRed);
    }
}

// Real timer messages, timed from one frame change to the next.
TEST_F(AnimationTest, EachFrameStaysForItsOwnDelay) {
    OpenViewerOn(FixturePath(L"anim3_16x16.gif"));
    ASSERT_NE(app.timerId, 0u);
    std::vector<DWORD> shownFor(3, 0);
    ASSERT_TRUE(WaitFor([] { return app.currentFrame == 0; }));
    for (int cycle = 0; cycle < 2; ++cycle) {
        for (int frame = 0; frame < 3; ++frame) {
            const DWORD start = GetTickCount();
            const int next = (frame + 1) % 3;
            ASSERT_TRUE(WaitFor([next] { return app.currentFrame == next; }));
            if (cycle == 1) shownFor[frame] = GetTickCount() - start;
        }
    }
    // Delays 100, 0 and 50 ms; a zero delay runs at the system's minimum period.
    EXPECT_GE(shownFor[0], 80u);
    EXPECT_LE(shownFor[0], 400u);
    EXPECT_LE(shownFor[1], 60u);
    EXPECT_GE(shownFor[2], 35u);
    EXPECT_LE(shownFor[2], 300u);
    EXPECT_LT(shownFor[1], shownFor[2]);
    EXPECT_LT(shownFor[2], shownFor[0]);
}

TEST_F(AnimationTest, PausingKeepsTheFrameAndMakesTheIconsFromIt) {
    OpenViewerOn(FixturePath(L"anim6_16x16.gif"));
    ASSERT_TRUE(WaitFor([] { return app.currentFrame == 4; }, 5000));
    ToggleAnimation();
    EXPECT_EQ(app.timerId, 0u);
    EXPECT_EQ(BigIconCenter(), RGB(255, 0, 255));
    EXPECT_FALSE(WaitFor([] { return app.currentFrame != 4; }, 500));

    ToggleAnimation();
    EXPECT_NE(app.timerId, 0u);
    const DWORD start = GetTickCount();
    ASSERT_TRUE(WaitFor([] { return app.currentFrame == 5; }));
    EXPECT_GE(GetTickCount() - start, 150u);
}

}  // namespace
