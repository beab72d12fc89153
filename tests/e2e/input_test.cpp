#include "driver.h"

namespace {

using Action = std::function<void(const Viewer&)>;

Action Key(WORD key, std::vector<WORD> modifiers = {}) {
    return [=](const Viewer&) { Press(key, modifiers); };
}

Action Wheel(int delta) {
    return [=](const Viewer& viewer) { Mouse({{viewer.ToScreen(64, 64)}, {{}, 0, delta}}); };
}

Action MiddleClick(int x, int y) {
    return [=](const Viewer& viewer) {
        const POINT at = viewer.ToScreen(x, y);
        Mouse({{at}, {at, MOUSEEVENTF_MIDDLEDOWN}, {at, MOUSEEVENTF_MIDDLEUP}});
    };
}

// A left drag from where the pointer rests. Wine sets a move's button flags when the move is
// queued and echoes every pointer warp back to the viewer later, as a move to where it went: a
// move to the start queued with the press could land after it and pan by itself. Each drag
// therefore starts where the last one ended, and the viewer has seen the pointer there.
Action Drag(POINT from, POINT to) {
    return [=](const Viewer& viewer) {
        const POINT start = viewer.ToScreen(from.x, from.y), end = viewer.ToScreen(to.x, to.y);
        Mouse({{start, MOUSEEVENTF_LEFTDOWN}, {end}, {end, MOUSEEVENTF_LEFTUP}});
    };
}

// Ctrl is held through the whole of an action.
Action WithCtrl(const Action& action) {
    return [=](const Viewer& viewer) {
        INPUT down = KeyInput(VK_CONTROL, 0), up = KeyInput(VK_CONTROL, KEYEVENTF_KEYUP);
        SendInput(1, &down, sizeof down);
        action(viewer);
        SendInput(1, &up, sizeof up);
    };
}

// The 40x30 red picture, which starts at actual size in the smallest window.
class RedPicture : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(viewer.WaitForWindow());
        // Wine reports the pointer's entry into a new window late, as a move to where it entered:
        // parked early where drags start, that move changes nothing.
        Mouse({{viewer.ToScreen(64, 64)}});
        client = viewer.Client();
        ASSERT_TRUE(ShowsPictureAt(viewer, ButtonFace(), At(1)));
    }
    Rect At(float zoom, int panX = 0, int panY = 0) const {
        return ZoomedRect(client, 40, 30, zoom, panX, panY);
    }
    void Run(const std::vector<std::tuple<const char*, Action, Rect>>& steps) {
        for (const auto& [action, act, want] : steps) {
            act(viewer);
            EXPECT_TRUE(ShowsPictureAt(viewer, ButtonFace(), want)) << action;
        }
    }
    Viewer viewer{{Fixture(L"red_40x30.png")}};
    SIZE client = {};
};

TEST_F(RedPicture, ArrowsAndWheelZoomByTwo) {
    Run({{"Up", Key(VK_UP), At(2)},
         {"Down", Key(VK_DOWN), At(1)},
         {"Down", Key(VK_DOWN), At(0.5f)},
         {"wheel +120", Wheel(120), At(1)},
         {"wheel +240 is still one step", Wheel(240), At(2)},
         {"wheel +60 zooms out", Wheel(60), At(1)},
         {"wheel -120", Wheel(-120), At(0.5f)},
         {"Space fits", Key(VK_SPACE), FittedRect(client, 40, 30)},
         // A wide picture in a square client fits at client width over picture width.
         {"Down from fit halves the fitted zoom", Key(VK_DOWN), At(float(client.cx) / 40 / 2)}});
}

TEST_F(RedPicture, TabSpaceAndMiddleButtonSwitchBetweenFitAndZoom) {
    const Rect fitted = FittedRect(client, 40, 30);
    // The middle clicks land apart, so that they do not make a double click.
    Run({{"Space fits", Key(VK_SPACE), fitted},
         {"Space again zooms", Key(VK_SPACE), At(1)},
         {"middle button fits", MiddleClick(30, 30), fitted},
         {"middle button zooms", MiddleClick(90, 90), At(1)},
         {"Up", Key(VK_UP), At(2)},
         {"Tab", Key(VK_TAB), At(1)},
         {"Space fits", Key(VK_SPACE), fitted},
         {"Tab from fit", Key(VK_TAB), At(1)}});
}

TEST_F(RedPicture, ShiftArrowsAndLeftDragPan) {
    Run({{"Shift+Right", Key(VK_RIGHT, {VK_SHIFT}), At(1, 8, 0)},
         {"Shift+Down", Key(VK_DOWN, {VK_SHIFT}), At(1, 8, 8)},
         {"Shift+Left", Key(VK_LEFT, {VK_SHIFT}), At(1, 0, 8)},
         {"Shift+Up", Key(VK_UP, {VK_SHIFT}), At(1, 0, 0)},
         {"Shift wins over Ctrl", Key(VK_LEFT, {VK_SHIFT, VK_CONTROL}), At(1, -8, 0)},
         {"Shift+Ctrl+Right", Key(VK_RIGHT, {VK_SHIFT, VK_CONTROL}), At(1, 0, 0)},
         // The pointer rests at 64,64 since set-up, and the key steps above have been seen.
         {"drag", Drag({64, 64}, {74, 70}), At(1, -10, -6)},
         // Were it to pan, the plain drag that follows would show it.
         {"a drag with Ctrl held does not pan", WithCtrl(Drag({74, 70}, {84, 76})), At(1, -10, -6)},
         {"a drag pans from where the last move was", Drag({84, 76}, {79, 73}), At(1, -5, -3)},
         {"Up doubles the pan", Key(VK_UP), At(2, -10, -6)},
         {"Tab away from 1.0 keeps the pan", Key(VK_TAB), At(1, -10, -6)},
         {"Tab at 1.0 recentres", Key(VK_TAB), At(1)}});
}

TEST_F(RedPicture, BCyclesTheBackgroundBlackGrayWhite) {
    for (DWORD colour : {kBlack, kGray, kWhite, kBlack}) {
        Press('B');
        EXPECT_TRUE(Becomes([&] { return viewer.Capture().Count(colour); },
                            client.cx * client.cy - 40 * 30));
    }
}

TEST(Keys, ArrowsWalkTheFolderSkippingWhatDoesNotDecodeAndWrap) {
    TempFolder folder;
    folder.Copy(Fixture(L"not_an_image.png"), L"b.png");
    folder.Copy(Fixture(L"green_101x51.bmp"), L"c.bmp");
    Viewer viewer({folder.Copy(Fixture(L"red_40x30.png"), L"a.png")});
    ASSERT_TRUE(viewer.WaitForWindow());
    for (const auto& [key, title, colour] :
         {std::tuple(VK_RIGHT, L"c.bmp", kGreen), std::tuple(VK_RIGHT, L"a.png", kRed),
          std::tuple(VK_LEFT, L"c.bmp", kGreen), std::tuple(VK_LEFT, L"a.png", kRed)}) {
        Press(key);
        EXPECT_TRUE(Becomes([&] { return viewer.Title(); }, std::wstring(title)));
        EXPECT_TRUE(Becomes([&] { return viewer.Capture().At(64, 64); }, colour));
    }
}

TEST(Keys, APausesAndCtrlArrowsStepFrames) {
    const DWORD frames[] = {kRed, kGreen, kBlue, kYellow, kMagenta, kCyan};
    Viewer viewer({Fixture(L"anim6_16x16.gif")});
    ASSERT_TRUE(viewer.WaitForWindow());
    auto centre = [&] { return viewer.Capture().At(64, 64); };
    ASSERT_TRUE(Becomes(centre, kRed));
    ASSERT_TRUE(Becomes(centre, kGreen));
    Press('A');
    Press('B');  // keys are handled in order: once the background is black, A has been too
    ASSERT_TRUE(Becomes([&] { return viewer.Capture().At(0, 0); }, kBlack));
    const int paused = int(std::find(frames, frames + 6, centre()) - frames);
    ASSERT_LT(paused, 6) << std::hex << centre();
    EXPECT_FALSE(WaitUntil([&] { return centre() != frames[paused]; }, 3 * 200)) << "playing";
    for (int step = 1; step <= 6; ++step) {
        Press(VK_RIGHT, {VK_CONTROL});
        EXPECT_TRUE(Becomes(centre, frames[(paused + step) % 6])) << "step " << step;
    }
    Press(VK_LEFT, {VK_CONTROL});
    EXPECT_TRUE(Becomes(centre, frames[(paused + 5) % 6]));
    Press('A');
    EXPECT_TRUE(WaitUntil([&] { return centre() != frames[(paused + 5) % 6]; })) << "paused";
}

TEST(Keys, SSwitchesBetweenSmoothAndNearestNeighbourScaling) {
    TempFolder folder;
    const auto file = folder.path / L"halves.png";
    SavePicture(file, 16, 16, [](int x, int) { return x < 8 ? kRed : kBlue; });
    Viewer viewer({file});
    ASSERT_TRUE(viewer.WaitForWindow());
    Press(VK_UP);
    Press(VK_UP);
    // At zoom 4 the picture spans 32..95 each way; inside it only the seam can blend.
    auto blended = [&] {
        const Shot shot = viewer.Capture();
        for (int x = 34; x < 94; ++x) {
            if (shot.At(x, 64) != kRed && shot.At(x, 64) != kBlue) return true;
        }
        return false;
    };
    ASSERT_TRUE(Becomes([&] { return viewer.Capture().At(34, 34); }, kRed));
    for (bool smooth : {true, false, true}) {
        EXPECT_TRUE(Becomes(blended, smooth)) << (smooth ? "smooth" : "nearest neighbour");
        Press('S');
    }
}

}  // namespace
