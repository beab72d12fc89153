// The real window in this process, driven through its window procedure.
#include "core/animation.h"
#include "support.h"

namespace {

void Press(WPARAM key, std::vector<BYTE> held = {}) {
    SendToWindow(WM_KEYDOWN, key, 0, held);
}

DWORD CentreColour() {
    const std::vector<DWORD> pixels = BitmapPixels(*app.backBuffer);
    return pixels[app.clientHeight / 2 * app.clientWidth + app.clientWidth / 2] & 0xFFFFFF;
}

// The window's big icon, and the colour at its centre.
std::pair<HICON, DWORD> BigIcon() {
    const auto icon = reinterpret_cast<HICON>(SendMessageW(app.window, WM_GETICON, ICON_BIG, 0));
    ICONINFO info = {};
    GetIconInfo(icon, &info);
    Gdiplus::Bitmap bitmap(info.hbmColor, nullptr);
    DeleteObject(info.hbmColor), DeleteObject(info.hbmMask);
    return {icon, BitmapPixels(bitmap)[16 * 32 + 16] & 0xFFFFFF};
}

// The 16 x 16 animation, paused on frame 0, at actual size in the 128 x 128 minimum window.
TEST(Window, KeysAndMouseReachTheirCommands) {
    TempFolder folder;
    OpenViewerOn(folder.Copy(L"anim3_16x16.gif", L"only.gif"));
    Press('A');
    EXPECT_EQ(app.timerId, 0u);
    ShowFrame(0);
    // What the view is after each step: fit, zoom, pan x and y, frame, background, smoothing.
    using View = std::tuple<bool, float, int, int, int, int, bool>;
    const struct {
        const char* what;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        std::vector<BYTE> held;
        View want;
    } steps[] = {
        // clang-format off
        {"Up",              WM_KEYDOWN,     VK_UP,    0, {},          {0, 2,    0, 0, 0, -1, 1}},
        {"Ctrl+Down",       WM_KEYDOWN,     VK_DOWN,  0, {VK_CONTROL}, {0, 1,    0, 0, 0, -1, 1}},
        {"Down",            WM_KEYDOWN,     VK_DOWN,  0, {},          {0, 0.5f, 0, 0, 0, -1, 1}},
        {"Shift+Right",     WM_KEYDOWN,     VK_RIGHT, 0, {VK_SHIFT},  {0, 0.5f, 8, 0, 0, -1, 1}},
        {"Shift+Ctrl+Down", WM_KEYDOWN,     VK_DOWN,  0, {VK_SHIFT, VK_CONTROL},
                                                                      {0, 0.5f, 8, 8, 0, -1, 1}},
        {"Ctrl+Right",      WM_KEYDOWN,     VK_RIGHT, 0, {VK_CONTROL}, {0, 0.5f, 8, 8, 1, -1, 1}},
        {"Ctrl+Left",       WM_KEYDOWN,     VK_LEFT,  0, {VK_CONTROL}, {0, 0.5f, 8, 8, 0, -1, 1}},
        {"Ctrl+Left wraps", WM_KEYDOWN,     VK_LEFT,  0, {VK_CONTROL}, {0, 0.5f, 8, 8, 2, -1, 1}},
        // The folder holds this picture alone, which a step to the next or previous shows anew.
        {"Right",           WM_KEYDOWN,     VK_RIGHT, 0, {},          {0, 0.5f, 8, 8, 0, -1, 1}},
        {"Ctrl+Left",       WM_KEYDOWN,     VK_LEFT,  0, {VK_CONTROL}, {0, 0.5f, 8, 8, 2, -1, 1}},
        {"Left",            WM_KEYDOWN,     VK_LEFT,  0, {},          {0, 0.5f, 8, 8, 0, -1, 1}},
        {"Ctrl+Left",       WM_KEYDOWN,     VK_LEFT,  0, {VK_CONTROL}, {0, 0.5f, 8, 8, 2, -1, 1}},
        {"Space",           WM_KEYDOWN,     VK_SPACE, 0, {},          {1, 0.5f, 8, 8, 2, -1, 1}},
        {"Up from fit",     WM_KEYDOWN,     VK_UP,    0, {},          {0, 16,  16, 16, 2, -1, 1}},
        {"Tab",             WM_KEYDOWN,     VK_TAB,   0, {},          {0, 1,   16, 16, 2, -1, 1}},
        {"Tab at 1",        WM_KEYDOWN,     VK_TAB,   0, {},          {0, 1,    0, 0, 2, -1, 1}},
        {"wheel",           WM_MOUSEWHEEL,  MAKEWPARAM(0, 120), 0, {}, {0, 2,    0, 0, 2, -1, 1}},
        {"wheel 2 notches", WM_MOUSEWHEEL,  MAKEWPARAM(0, 240), 0, {}, {0, 4,    0, 0, 2, -1, 1}},
        {"wheel 1/2 notch", WM_MOUSEWHEEL,  MAKEWPARAM(0, 60),  0, {}, {0, 2,    0, 0, 2, -1, 1}},
        {"middle button",   WM_MBUTTONDOWN, 0,        0, {},          {1, 2,    0, 0, 2, -1, 1}},
        {"middle button",   WM_MBUTTONDOWN, 0,        0, {},          {0, 2,    0, 0, 2, -1, 1}},
        {"move",            WM_MOUSEMOVE,   0,          MAKELPARAM(10, 10), {}, {0, 2,  0,  0, 2, -1, 1}},
        {"drag",            WM_MOUSEMOVE,   MK_LBUTTON, MAKELPARAM(20, 16), {}, {0, 2, -10, -6, 2, -1, 1}},
        {"Ctrl drag",       WM_MOUSEMOVE,   MK_LBUTTON | MK_CONTROL, MAKELPARAM(30, 20), {},
                                                                      {0, 2, -10, -6, 2, -1, 1}},
        {"drag on",         WM_MOUSEMOVE,   MK_LBUTTON, MAKELPARAM(25, 17), {}, {0, 2, -5, -3, 2, -1, 1}},
        {"B",               WM_KEYDOWN,     'B',      0, {},          {0, 2,   -5, -3, 2, 0, 1}},
        {"B",               WM_KEYDOWN,     'B',      0, {},          {0, 2,   -5, -3, 2, 1, 1}},
        {"B",               WM_KEYDOWN,     'B',      0, {},          {0, 2,   -5, -3, 2, 2, 1}},
        {"B",               WM_KEYDOWN,     'B',      0, {},          {0, 2,   -5, -3, 2, 0, 1}},
        {"S",               WM_KEYDOWN,     'S',      0, {},          {0, 2,   -5, -3, 2, 0, 0}},
        // clang-format on
    };
    for (const auto& step : steps) {
        SendToWindow(step.message, step.wParam, step.lParam, step.held);
        EXPECT_EQ(View(app.fitToWindow, app.zoom, app.panX, app.panY, app.currentFrame,
                       app.backgroundIndex, app.smoothScaling),
                  step.want)
            << step.what;
    }
    for (const bool topmost : {true, false}) {
        Press('T');
        EXPECT_EQ(bool(GetWindowLongW(app.window, GWL_EXSTYLE) & WS_EX_TOPMOST), topmost);
    }
}

// Each picture starts from its first frame, with its own timer and icons (none in fullscreen,
// where no title bar shows them).
TEST(Window, ANewPictureStartsAtItsFirstFrameWithItsOwnTimerAndIcons) {
    TempFolder folder;
    folder.Copy(L"anim6_16x16.gif", L"a.gif");
    folder.Copy(L"anim3_16x16.gif", L"b.gif");
    OpenViewerOn(folder.Copy(L"green_101x51.bmp", L"c.bmp"));
    EXPECT_EQ(app.timerId, 0u);
    Press(VK_LEFT);
    EXPECT_NE(app.timerId, 0u) << "b.gif plays";
    EXPECT_EQ(BigIcon().second, kRed);
    ShowFrame(2);
    Press(VK_LEFT);
    EXPECT_EQ(app.currentFrame, 0) << "a.gif";
    EXPECT_EQ(CentreColour(), kRed);
    Press(VK_RETURN);
    const HICON fullscreenIcon = BigIcon().first;
    Press(VK_LEFT);
    EXPECT_EQ(app.timerId, 0u) << "c.bmp";
    EXPECT_EQ(BigIcon().first, fullscreenIcon);
    Press(VK_RETURN);
    EXPECT_EQ(BigIcon().second, kGreen);
    // While the file on show is being deleted there is no picture: frames wait for the next.
    app.image.reset();
    SendToWindow(WM_TIMER, 1);
    Press(VK_RIGHT, {VK_CONTROL});
    EXPECT_EQ(app.currentFrame, 0);
}

// Wine counts no GDI objects (GetGuiResources answers 0), so they are counted by the room left:
// brushes are made until the system refuses, then freed. Icons and back buffers are GDI objects.
int GdiRoom() {
    std::vector<HBRUSH> made;
    for (HBRUSH brush; made.size() < 200000 && (brush = CreateSolidBrush(0));) {
        made.push_back(brush);
    }
    for (const HBRUSH brush : made) DeleteObject(brush);
    return int(made.size());
}

// An object kept per operation shows after a few hundred of them.
TEST(Window, HundredsOfOperationsKeepNoObjects) {
    TempFolder folder;
    folder.Copy(L"anim6_16x16.gif", L"b.gif");
    folder.Copy(L"not_an_image.png", L"c.png");
    OpenViewerOn(folder.Copy(L"red_40x30.png", L"a.png"));
    const auto run = [](int rounds) {
        for (int round = 0; round < rounds; ++round) {
            for (const int key : {VK_RIGHT, int('B'), VK_UP, VK_DOWN, int('A')}) Press(key);
            if (round % 50 == 0) Press(VK_RETURN), Press(VK_RETURN);
        }
    };
    run(10);
    const int room = GdiRoom();
    run(300);
    EXPECT_LT(room - GdiRoom(), 20);
}

}  // namespace
