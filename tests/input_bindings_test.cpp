#include <gtest/gtest.h>

#include "core/app_state.h"
#include "test_support.h"
#include "window/input_bindings.h"

namespace {

class InputBindingsTest : public testing::Test {
protected:
    void SetUp() override {
        folder.AddFixture(L"red_40x30.png", L"b.png");
        OpenViewerOn(folder.AddFixture(L"anim6_16x16.gif", L"a.gif").wstring());
        app.animate = false;
    }
    void TearDown() override {
        ResetApp();
    }
    TempFolder folder;
};

TEST_F(InputBindingsTest, ShiftWinsOverCtrlOnTheArrowKeys) {
    constexpr Modifiers kNone = {false, false, false}, kShift = {true, false, false},
                        kCtrl = {false, true, false}, kBoth = {true, true, false};
    const struct {
        WPARAM key;
        Modifiers modifiers;
        int panX, panY, frame;
    } cases[] = {
        {VK_RIGHT, kShift, 8, 0, 0}, {VK_LEFT, kBoth, -8, 0, 0}, {VK_DOWN, kBoth, 0, 8, 0},
        {VK_UP, kShift, 0, -8, 0},   {VK_RIGHT, kCtrl, 0, 0, 1}, {VK_LEFT, kCtrl, 0, 0, 5},
        {'Q', kNone, 0, 0, 0},       {VK_F1, kShift, 0, 0, 0},
    };
    for (const auto& c : cases) {
        app.panX = app.panY = 0;
        app.currentFrame = 0;
        DispatchKey(c.key, c.modifiers);
        EXPECT_EQ(app.panX, c.panX) << "key " << c.key;
        EXPECT_EQ(app.panY, c.panY) << "key " << c.key;
        EXPECT_EQ(app.currentFrame, c.frame) << "key " << c.key;
        EXPECT_STREQ(app.currentName, L"a.gif");
    }
    DispatchKey(VK_UP, kCtrl);
    EXPECT_FALSE(app.fitToWindow);
    DispatchKey(VK_RIGHT, kNone);
    EXPECT_STREQ(app.currentName, L"b.png");
}

TEST_F(InputBindingsTest, DraggingPansOnlyWithTheLeftButtonAlone) {
    TrackDrag(0, MAKELPARAM(100, 100));
    TrackDrag(MK_LBUTTON, MAKELPARAM(110, 95));
    EXPECT_EQ(app.panX, -10);
    EXPECT_EQ(app.panY, 5);
    TrackDrag(MK_LBUTTON | MK_CONTROL, MAKELPARAM(150, 150));
    EXPECT_EQ(app.panX, -10);
    EXPECT_EQ(app.lastMouseX, 150);
    TrackDrag(MK_LBUTTON, MAKELPARAM(140, 150));
    EXPECT_EQ(app.panX, 0);
}

TEST(WheelDirection, IsOneStepPerMessageAndZoomsOutBelowAWholeNotch) {
    const struct {
        short delta;
        int direction;
    } cases[] = {{120, 1}, {240, 2}, {119, 0}, {60, 0}, {-60, 0}, {-120, -1}};
    for (const auto& c : cases) {
        EXPECT_EQ(WheelDirection(MAKEWPARAM(0, c.delta)), c.direction) << c.delta;
    }
}

}  // namespace
