#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "test_support.h"
// After the platform header, which brings in what it needs.
#include <psapi.h>

namespace fs = std::filesystem;

namespace {

constexpr long long kMaxMemoryGrowth = 5 << 20;
constexpr int kMaxObjectGrowth = 20;

// Wine leaves PrivateUsage at 0 and reports the figure as PagefileUsage, which Windows fills
// with the same number.
long long PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    K32GetProcessMemoryInfo(GetCurrentProcess(),
                            reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
}

// Wine counts no GDI or USER objects (GetGuiResources answers 0), so objects are counted by the
// room left for more: cheap ones are made until the system refuses, then freed. Every object
// the program keeps takes one place from that room.
template <typename Handle, typename Free>
int CountCreatable(Handle (*make)(), Free free) {
    constexpr size_t kBeyondAnyQuota = 200000;
    std::vector<Handle> made;
    while (made.size() < kBeyondAnyQuota) {
        const Handle handle = make();
        if (!handle) break;
        made.push_back(handle);
    }
    for (const Handle handle : made) free(handle);
    return static_cast<int>(made.size());
}

HBRUSH MakeBrush() {
    return CreateSolidBrush(RGB(1, 2, 3));
}

HACCEL MakeAcceleratorTable() {
    ACCEL accelerator = {FVIRTKEY, 'A', 1};
    return CreateAcceleratorTableW(&accelerator, 1);
}

struct Usage {
    long long privateBytes;
    int gdiRoom;
    int userRoom;
    DWORD gdiObjects;  // as the system counts them, where it does
    DWORD userObjects;
};

Usage MeasureUsage() {
    Usage usage;
    usage.gdiRoom = CountCreatable(MakeBrush, DeleteObject);
    usage.userRoom = CountCreatable(MakeAcceleratorTable, DestroyAcceleratorTable);
    // Read after the probes, so that the heap they grew is in both figures of a run.
    usage.privateBytes = PrivateBytes();
    usage.gdiObjects = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    usage.userObjects = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    return usage;
}

std::ostream& operator<<(std::ostream& out, const Usage& usage) {
    return out << usage.privateBytes / 1024 << " KB private, GDI room " << usage.gdiRoom
               << " (count " << usage.gdiObjects << "), USER room " << usage.userRoom << " (count "
               << usage.userObjects << ")";
}

// Runs `run` once to warm up and again measured, then checks that the second left nothing.
void ExpectNoGrowth(const char* name, int warmUpCount, int count,
                    const std::function<void(int)>& run) {
    run(warmUpCount);
    const Usage before = MeasureUsage();
    const DWORD start = GetTickCount();
    run(count);
    const DWORD seconds10 = (GetTickCount() - start) / 100;
    const Usage after = MeasureUsage();
    std::cout << "[ long run ] " << name << " x " << count << " in " << seconds10 / 10 << "."
              << seconds10 % 10 << " s\n  before: " << before << "\n  after:  " << after
              << std::endl;
    EXPECT_LT(after.privateBytes - before.privateBytes, kMaxMemoryGrowth) << name;
    EXPECT_LT(before.gdiRoom - after.gdiRoom, kMaxObjectGrowth) << name;
    EXPECT_LT(before.userRoom - after.userRoom, kMaxObjectGrowth) << name;
    EXPECT_LT(int(after.gdiObjects - before.gdiObjects), kMaxObjectGrowth) << name;
    EXPECT_LT(int(after.userObjects - before.userObjects), kMaxObjectGrowth) << name;
}

// The key map reads Shift with GetKeyState, which answers from the thread's keyboard state.
void HoldShift(bool down) {
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    SetKeyboardState(keys);
}

// A key press through the real window procedure.
void PressKey(WPARAM key, bool shift = false) {
    HoldShift(shift);
    SendMessageW(app.window, WM_KEYDOWN, key, 0);
    PumpMessages();
}

// Frames shown while messages are pumped for ms milliseconds: one per timer message.
int PlayFor(int ms) {
    int frames = 0;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(ms)) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            frames += message.message == WM_TIMER && message.hwnd == app.window;
            DispatchMessageW(&message);
        }
    }
    return frames;
}

// The sample folder, found from the test program so that the build folder can move.
fs::path SamplePath(const wchar_t* name) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return fs::path(program).parent_path() / GLIM_SAMPLES / name;
}

// Two 1 x 1 frames, red then blue, each to be shown for 0 ms.
// clang-format off
constexpr unsigned char kZeroDelayGif[] = {
    'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,  // 1 x 1, two colours:
    0xFF, 0, 0, 0, 0, 0xFF,                                 // red, blue
    0x21, 0xF9, 4, 0, 0, 0, 0, 0,                           // delay 0
    0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x44, 1, 0,      // the pixel in red
    0x21, 0xF9, 4, 0, 0, 0, 0, 0,                           // delay 0
    0x2C, 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 0x4C, 1, 0,      // the pixel in blue
    0x3B};
// clang-format on

void ResizeClient(int width, int height) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRect(&outer, GetWindowLongW(app.window, GWL_STYLE), FALSE);
    SetWindowPos(app.window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    PumpMessages();
}

class LongRunTest : public testing::Test {
protected:
    void TearDown() override {
        HoldShift(false);
        ResetApp();
    }
    TempFolder folder;
};

TEST_F(LongRunTest, MetersSeeHeldMemoryBrushesAndIcons) {
    // The first icon sets up what later ones share.
    DestroyIcon(CopyIcon(LoadIconW(nullptr, IDI_APPLICATION)));
    const Usage before = MeasureUsage();
    const std::vector<char> block(8 << 20, 1);
    const HBRUSH brush = CreateSolidBrush(RGB(9, 9, 9));
    const HICON icon = CopyIcon(LoadIconW(nullptr, IDI_APPLICATION));
    const Usage holding = MeasureUsage();
    DeleteObject(brush);
    DestroyIcon(icon);
    const Usage released = MeasureUsage();
    std::cout << "before: " << before << "\nholding: " << holding << "\nreleased: " << released
              << std::endl;
    EXPECT_GE(holding.privateBytes - before.privateBytes, 8 << 20);
    EXPECT_GE(before.gdiRoom - holding.gdiRoom, 1);
    EXPECT_GE(before.userRoom - holding.userRoom, 1);
    EXPECT_EQ(released.gdiRoom, before.gdiRoom);
    EXPECT_EQ(released.userRoom, before.userRoom);
}

TEST_F(LongRunTest, NavigatingAMixedFolderKeepsNothing) {
    const wchar_t* fixtures[] = {
        L"red_40x30.png",         L"thirds_300x100.png", L"green_101x51.bmp", L"gray_64x48.jpg",
        L"blue_20x10.gif",        L"anim3_16x16.gif",    L"anim6_16x16.gif",  L"pages2_16x16.tif",
        L"transparent_20x20.png", L"truncated.png",      L"not_an_image.png"};
    for (const wchar_t* name : fixtures) folder.Copy(FixturePath(name), name);
    folder.Copy(SamplePath(L"03-animated.gif"), L"sample.gif");
    folder.Copy(SamplePath(L"04-photo.jpg"), L"sample.jpg");
    OpenViewerOn((folder.path / L"red_40x30.png").wstring());
    ExpectNoGrowth("navigations", 26, 2000, [](int count) {
        for (int i = 0; i < count; ++i) PressKey(i < count / 2 ? VK_RIGHT : VK_LEFT);
        EXPECT_STREQ(app.currentName, L"red_40x30.png");
    });
}

// A zoom step in, eight Shift pans round a square at actual size, a zoom step out: zoom and pan
// come back every ten presses. Wine scales slowly, so most compositions are drawn unscaled.
TEST_F(LongRunTest, ZoomingAndPanningKeepsNothing) {
    OpenViewerOn(folder.Copy(SamplePath(L"01-landscape.png"), L"landscape.png").wstring());
    ResizeClient(320, 200);
    PressKey(VK_RIGHT, true);
    ASSERT_EQ(app.panX, 8) << "Shift does not reach the key map";
    PressKey(VK_LEFT, true);
    ExpectNoGrowth("compositions", 100, 10000, [](int count) {
        const WPARAM round[] = {VK_UP,    VK_RIGHT, VK_DOWN, VK_LEFT, VK_UP,
                                VK_RIGHT, VK_DOWN,  VK_LEFT, VK_UP,   VK_DOWN};
        for (int i = 0; i < count; ++i) {
            const int step = i % 10;
            PressKey(round[step], step != 0 && step != 9);
        }
        EXPECT_EQ(app.zoom, 0.5f);
        EXPECT_EQ(app.panX, 0);
        EXPECT_EQ(app.panY, 0);
    });
}

TEST_F(LongRunTest, CyclingTheBackgroundKeepsNothing) {
    OpenViewerOn(FixturePath(L"thirds_300x100.png"));
    ExpectNoGrowth("background cycles", 30, 10000, [](int count) {
        for (int i = 0; i < count; ++i) PressKey('B');
    });
}

TEST_F(LongRunTest, AZeroDelayAnimationPlayingForAMinuteKeepsNothing) {
    const std::string gif(std::begin(kZeroDelayGif), std::end(kZeroDelayGif));
    OpenViewerOn(folder.Add(L"zero.gif", gif).wstring());
    ASSERT_EQ(app.frameDelaysMs, std::vector<int>({0, 0}));
    int frames = 0;
    ExpectNoGrowth("ms of playing", 2000, 60000, [&frames](int ms) { frames = PlayFor(ms); });
    std::cout << "  frames shown: " << frames << std::endl;
    // Far more than the 100 ms default would give: the zero delays are not replaced.
    EXPECT_GT(frames, 1200);
}

// A wide picture, so that the fullscreen picture has fewer rows for Wine's slow scaling.
TEST_F(LongRunTest, TogglingFullscreenKeepsNothing) {
    OpenViewerOn(FixturePath(L"thirds_300x100.png"));
    ExpectNoGrowth("fullscreen toggles", 4, 200, [](int count) {
        for (int i = 0; i < count; ++i) PressKey(VK_RETURN);
        EXPECT_FALSE(app.fullscreen);
        EXPECT_EQ(app.clientWidth, 300);
    });
}

}  // namespace
