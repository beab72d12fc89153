// The real window in this process, driven through its window procedure.
#include <atomic>
#include <cmath>
#include <cstring>

#include "core/animation.h"
#include "imaging/pixels/view.h"
#include "imaging/pixels/composition.h"
#include "support.h"

static void Press(WPARAM key, std::vector<BYTE> held = {}) {
    SendToWindow(WM_KEYDOWN, key, 0, held);
}

// The window's big icon, and the colour at its centre.
static std::pair<HICON, DWORD> BigIcon() {
    const auto icon = reinterpret_cast<HICON>(SendMessageW(app.window, WM_GETICON, ICON_BIG, 0));
    return {icon, IconPixels(icon)[16 * 32 + 16] & 0xFFFFFF};
}

// The 16 x 16 animation, paused on frame 0, at actual size in the 128 x 128 minimum window.
TEST(Window, KeysAndMouseReachTheirCommands) {
    TempFolder folder;
    folder.Copy(L"anim3_16x16.gif", L"only.gif");
    OpenViewerOn(folder.path / L"ONLY.GIF");  // named in other letter case: titled as listed
    EXPECT_STREQ(app.currentName, L"only.gif");
    EXPECT_EQ(GetClassLongPtrW(app.window, GCLP_HCURSOR),
              LONG_PTR(LoadCursorW(nullptr, IDC_SIZEALL)));
    Press('A');
    EXPECT_EQ(app.timerId, 0u);
    ShowFrame(0);
    // Touchpads and smooth wheels send parts of a notch (a pinch carries Ctrl): they add up to
    // whole steps within one movement, which turning back or a pause ends.
    constexpr int kPause = 0;  // no message: more than half a second without one
    const std::tuple<const char*, WORD, std::vector<int>, int> wheel[] = {
        // clang-format off
        // movement          keys        deltas                      zoom steps
        {"+60 -60 +60",      0,          {60, -60, 60},              0},
        {"pinch 12 x -30",   MK_CONTROL, std::vector<int>(12, -30),  -3},
        {"4 x +30",          0,          {30, 30, 30, 30},           +1},
        {"+90 pause +90",    0,          {90, kPause, 90},           0},
        // clang-format on
    };
    for (const auto& [what, keys, deltas, steps] : wheel) {
        const float zoom = app.view.zoom;
        for (const int delta : deltas) {
            // Posted, as the system posts them, so that each has its own message time.
            if (delta == kPause) {
                Sleep(600);
            } else {
                PostMessageW(app.window, WM_MOUSEWHEEL, MAKEWPARAM(keys, delta), 0);
            }
            WaitFor([] { return true; });
        }
        EXPECT_EQ(app.view.zoom, std::ldexp(zoom, steps)) << what;
    }
    Press(VK_TAB);
    // The view after each step: fit, zoom, pan x and y, frame, background, smoothing.
    using ViewState = std::tuple<bool, float, int, int, int, int, bool>;
    const std::tuple<const char*, UINT, WPARAM, LPARAM, std::vector<BYTE>, ViewState> steps[] = {
        // clang-format off
        // step             message         wParam                   lParam              held                   view
        {"Ctrl+Up",         WM_KEYDOWN,     VK_UP,                   0,                  {VK_CONTROL},          {0, 2,    0,  0, 0, -1, 1}},
        {"Down",            WM_KEYDOWN,     VK_DOWN,                 0,                  {},                    {0, 1,    0,  0, 0, -1, 1}},
        {"Shift+Right",     WM_KEYDOWN,     VK_RIGHT,                0,                  {VK_SHIFT},            {0, 1,    8,  0, 0, -1, 1}},
        {"Shift+Ctrl+Down", WM_KEYDOWN,     VK_DOWN,                 0,                  {VK_SHIFT, VK_CONTROL}, {0, 1,   8,  8, 0, -1, 1}},
        // The pan turns with the picture.
        {"R",               WM_KEYDOWN,     'R',                     0,                  {},                    {0, 1,   -8,  8, 0, -1, 1}},
        {"Shift+R",         WM_KEYDOWN,     'R',                     0,                  {VK_SHIFT},            {0, 1,    8,  8, 0, -1, 1}},
        // AltGr arrives as Ctrl+Alt: Alt counts only where a binding names it.
        {"Ctrl+Alt+Left",   WM_KEYDOWN,     VK_LEFT,                 0,                  {VK_CONTROL, VK_MENU}, {0, 1,    8,  8, 2, -1, 1}},
        {"Ctrl+Right",      WM_KEYDOWN,     VK_RIGHT,                0,                  {VK_CONTROL},          {0, 1,    8,  8, 0, -1, 1}},
        {"Space",           WM_KEYDOWN,     VK_SPACE,                0,                  {},                    {1, 1,    8,  8, 0, -1, 1}},
        {"Up from fit",     WM_KEYDOWN,     VK_UP,                   0,                  {},                    {0, 16,  16, 16, 0, -1, 1}},
        {"Tab",             WM_KEYDOWN,     VK_TAB,                  0,                  {},                    {0, 1,   16, 16, 0, -1, 1}},
        {"Tab at 1",        WM_KEYDOWN,     VK_TAB,                  0,                  {},                    {0, 1,    0,  0, 0, -1, 1}},
        {"wheel",           WM_MOUSEWHEEL,  MAKEWPARAM(0, 120),      0,                  {},                    {0, 2,    0,  0, 0, -1, 1}},
        {"wheel 2 notches", WM_MOUSEWHEEL,  MAKEWPARAM(0, 240),      0,                  {},                    {0, 4,    0,  0, 0, -1, 1}},
        {"wheel back",      WM_MOUSEWHEEL,  MAKEWPARAM(0, -120),     0,                  {},                    {0, 2,    0,  0, 0, -1, 1}},
        {"middle button",   WM_MBUTTONDOWN, 0,                       0,                  {},                    {1, 2,    0,  0, 0, -1, 1}},
        {"move",            WM_MOUSEMOVE,   0,                       MAKELPARAM(10, 10), {},                    {1, 2,    0,  0, 0, -1, 1}},
        {"drag",            WM_MOUSEMOVE,   MK_LBUTTON,              MAKELPARAM(20, 16), {},                    {1, 2,  -10, -6, 0, -1, 1}},
        {"Ctrl drag",       WM_MOUSEMOVE,   MK_LBUTTON | MK_CONTROL, MAKELPARAM(30, 20), {},                    {1, 2,  -10, -6, 0, -1, 1}},
        {"drag on",         WM_MOUSEMOVE,   MK_LBUTTON,              MAKELPARAM(25, 17), {},                    {1, 2,   -5, -3, 0, -1, 1}},
        {"B",               WM_KEYDOWN,     'B',                     0,                  {},                    {1, 2,   -5, -3, 0,  0, 1}},
        {"B",               WM_KEYDOWN,     'B',                     0,                  {},                    {1, 2,   -5, -3, 0,  1, 1}},
        {"B",               WM_KEYDOWN,     'B',                     0,                  {},                    {1, 2,   -5, -3, 0,  2, 1}},
        {"B",               WM_KEYDOWN,     'B',                     0,                  {},                    {1, 2,   -5, -3, 0,  0, 1}},
        {"S",               WM_KEYDOWN,     'S',                     0,                  {},                    {1, 2,   -5, -3, 0,  0, 0}},
        // clang-format on
    };
    for (const auto& [what, message, wParam, lParam, held, view] : steps) {
        SendToWindow(message, wParam, lParam, held);
        EXPECT_EQ(ViewState(app.view.fitToWindow, app.view.zoom, app.view.panX, app.view.panY,
                            app.onShow.frame, app.view.backgroundIndex, app.view.smoothScaling),
                  view)
            << what;
    }
    // Always on top, on gray, in zoom mode, through fullscreen and back: still on top, with the fit
    // mode's pointer, and the class brush gray again before the window took its size. Fullscreen
    // stays on top whatever T says meanwhile.
    for (const int key : {VK_SPACE, int('B'), int('T'), VK_RETURN, int('T')}) Press(key);
    EXPECT_TRUE(GetWindowLongW(app.window, GWL_EXSTYLE) & WS_EX_TOPMOST) << "fullscreen";
    for (const int key : {int('T'), VK_RETURN}) Press(key);
    EXPECT_TRUE(GetWindowLongW(app.window, GWL_EXSTYLE) & WS_EX_TOPMOST);
    EXPECT_EQ(GetClassLongPtrW(app.window, GCLP_HCURSOR),
              LONG_PTR(LoadCursorW(nullptr, IDC_ARROW)));
    LOGBRUSH brush;
    GetObjectW(HBRUSH(GetClassLongPtrW(app.window, GCLP_HBRBACKGROUND)), sizeof brush, &brush);
    EXPECT_EQ(brush.lbColor, RGB(128, 128, 128));
    SendMessageW(app.window, WM_KEYDOWN, VK_ESCAPE, 0);
    MSG quit;
    EXPECT_TRUE(PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "Escape quits";
}

// Each picture starts from its first frame, with its own timer and icons (none in fullscreen,
// where no title bar shows them); Home and End walk inward past the damaged first and last
// entries, and read ahead towards the other end. Hundreds of such steps, zooms, turns, background
// changes and fullscreen toggles later, no object is kept.
TEST(Window, EachPictureStartsAfreshAndLeavesNothingBehind) {
    TempFolder folder;
    folder.Copy(L"not_an_image.png", L"0.png");
    folder.Copy(L"red_40x30.png", L"a.png");
    folder.Copy(L"anim3_16x16.gif", L"b.gif");
    folder.Copy(L"not_an_image.png", L"d.png");
    // Named by its short name, the file is found in the list and titled as listed there.
    wchar_t shortPath[MAX_PATH];
    GetShortPathNameW(folder.Copy(L"green_101x51.bmp", L"c long name.bmp").c_str(), shortPath,
                      MAX_PATH);
    OpenViewerOn(shortPath);
    EXPECT_STREQ(app.currentName, L"c long name.bmp");
    Press(VK_HOME);
    EXPECT_EQ(std::tuple(std::wstring(app.currentName), app.travel), std::tuple(L"a.png", +1));
    Press(VK_END);
    EXPECT_EQ(std::tuple(std::wstring(app.currentName), app.travel),
              std::tuple(L"c long name.bmp", -1));
    EXPECT_EQ(app.timerId, 0u);
    Press(VK_LEFT);
    EXPECT_NE(app.timerId, 0u) << "b.gif plays";
    EXPECT_EQ(BigIcon().second, kRed);
    ShowFrame(2);
    Press(VK_LEFT);
    EXPECT_EQ(app.onShow.frame, 0) << "a.png";
    Press(VK_RETURN);
    const HICON fullscreenIcon = BigIcon().first;
    Press(VK_LEFT);
    EXPECT_EQ(app.timerId, 0u) << "c long name.bmp";
    EXPECT_EQ(BigIcon().first, fullscreenIcon);
    Press(VK_RETURN);
    EXPECT_EQ(BigIcon().second, kGreen);
    Press('A');  // paused, as a frame drawn to the full screen takes longer than the next lasts
    folder.Copy(L"noise_rgba_53x37.tga", L"e.tga");  // read by the system's codecs
    Press(VK_F5);
    Press(VK_END);
    EXPECT_STREQ(app.currentName, L"e.tga");
    const auto run = [](int rounds) {
        for (int round = 0; round < rounds; ++round) {
            for (const int key : {VK_RIGHT, int('B'), VK_UP, VK_DOWN, int('R')}) Press(key);
            if (round % 50 == 0) {
                Press(VK_RETURN);
                Press(VK_RETURN);
            }
        }
    };
    run(10);
    const int room = GdiRoom();
    run(300);
    EXPECT_LT(room - GdiRoom(), 20);
}

// The clipboard's copy of a format as bytes.
static std::string ClipboardBytes(UINT format) {
    const HGLOBAL memory = GetClipboardData(format);
    const char* bytes = memory ? static_cast<const char*>(GlobalLock(memory)) : nullptr;
    std::string copy = bytes ? std::string(bytes, GlobalSize(memory)) : "";
    if (bytes) GlobalUnlock(memory);
    return copy;
}

// A device-independent bitmap's pixels as 0xAARRGGBB, top row first, each channel read through
// the header's masks; nothing when the block is too short for the size its header gives.
static std::vector<DWORD> DibPixels(const std::string& dib) {
    BITMAPV5HEADER header = {};
    std::memcpy(&header, dib.data(), std::min(dib.size(), sizeof header));
    DWORD masks[4] = {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000};
    size_t offset = header.bV5Size;
    // Red, green and blue masks follow a plain header and lie within longer ones, alpha's from
    // version 3 on.
    if (header.bV5Compression == BI_BITFIELDS) {
        std::memcpy(masks, dib.data() + sizeof(BITMAPINFOHEADER), offset >= 56 ? 16 : 12);
        if (offset == sizeof(BITMAPINFOHEADER)) offset += 12;
    }
    const size_t row = size_t(header.bV5Width), rows = size_t(header.bV5Height);
    std::vector<DWORD> pixels(row * rows);
    if (header.bV5BitCount != 32 || dib.size() < offset + pixels.size() * 4) return {};
    for (size_t i = 0; i < pixels.size(); ++i) {
        DWORD stored;
        std::memcpy(&stored, dib.data() + offset + ((rows - 1 - i / row) * row + i % row) * 4, 4);
        for (const int channel : {3, 2, 1, 0}) {
            const DWORD mask = masks[channel == 3 ? 3 : 2 - channel];
            pixels[i] = pixels[i] << 8 | (mask ? (stored & mask) / (mask & -mask) : 0xFF);
        }
    }
    return pixels;
}

// A colour by each channel's top bit: Red, Green, Blue, White, or ? for the others.
static char ColourName(DWORD colour) {
    const DWORD c = colour >> 7;
    return "?BG?R??W"[(c >> 14 & 4) | (c >> 7 & 2) | (c & 1)];
}

// The colours at the corners of a width x height picture read through at(x, y), clockwise from
// the top left.
static std::string Corners(const std::function<DWORD(int, int)>& at, int width, int height) {
    std::string names;
    for (const auto& [x, y] :
         {std::pair(4, 4), {width - 5, 4}, {width - 5, height - 5}, {4, height - 5}}) {
        names += ColourName(at(x, y));
    }
    return names;
}

// A photo shows upright however the camera was held, and the view turns it further: its width,
// and its corners clockwise from the top left (as stored: Red, Green, White, Blue) on screen, on
// the clipboard and in the icon. A turned animation shows each frame turned; the next picture
// shows unturned.
TEST(Window, PhotosShowUprightAsTheirOrientationTagSaysAndTurnAsAsked) {
    const auto expectShows = [](int width, const std::string& corners, const std::string& what) {
        EXPECT_EQ(app.onShow.picture.imageWidth, width) << what;
        const Placement p = ComputePlacement(app.view, app.onShow.picture);
        const auto screen = [&](int x, int y) { return ScreenPixel(app.window, p.x + x, p.y + y); };
        EXPECT_TRUE(Becomes([&] { return Corners(screen, p.width, p.height); }, corners)) << what;
    };
    const std::tuple<const wchar_t*, int, std::string> cases[] = {
        {L"corners_1.jpg", 64, "RGWB"}, {L"corners_2.jpg", 64, "GRBW"},
        {L"corners_3.jpg", 64, "WBRG"}, {L"corners_4.jpg", 64, "BWGR"},
        {L"corners_5.jpg", 32, "RBWG"}, {L"corners_6.jpg", 32, "BRGW"},
        {L"corners_7.jpg", 32, "WGRB"}, {L"corners_8.jpg", 32, "GWBR"},  // little-endian, 2nd entry
        {L"corners_6.tif", 32, "BRGW"},  // the tag as the platform reports it
    };
    for (const auto& [name, width, corners] : cases) {
        OpenViewerOn(Fixture(name));
        expectShows(width, corners, fs::path(name).string());
    }
    // Mirrored, so a turn made before the orientation would go the other way: key, modifiers,
    // width and corners after each press.
    OpenViewerOn(Fixture(L"corners_7.jpg"));
    const std::tuple<WPARAM, std::vector<BYTE>, int, std::string> turns[] = {
        {'R', {}, 64, "BWGR"},           {'R', {}, 32, "RBWG"},
        {'R', {}, 64, "GRBW"},           {'R', {}, 32, "WGRB"},
        {'R', {VK_SHIFT}, 64, "GRBW"},   {'R', {VK_SHIFT}, 32, "RBWG"},
        {'R', {VK_CONTROL}, 64, "GRBW"},
    };
    int step = 0;
    for (const auto& [key, held, width, corners] : turns) {
        const std::string what = "turn " + std::to_string(++step);
        Press(key, held);
        expectShows(width, corners, what);
        Press('C', {VK_CONTROL});
        ASSERT_TRUE(OpenClipboard(nullptr));
        const std::vector<DWORD> copied = DibPixels(ClipboardBytes(CF_DIBV5));
        CloseClipboard();
        const std::vector<DWORD> icon = IconPixels(BigIcon().first);
        const auto inCopy = [&](int x, int y) { return copied.at(size_t(y) * width + x); };
        const auto inIcon = [&](int x, int y) { return icon.at(size_t(y) * 32 + x); };
        EXPECT_EQ(std::pair(Corners(inCopy, width, 64 * 32 / width), Corners(inIcon, 32, 32)),
                  std::pair(corners, corners))
            << what;
    }
    Press(VK_RIGHT);
    expectShows(32, "GWBR", "corners_8.jpg after a turn");
    OpenViewerOn(Fixture(L"corners_anim_64x32.gif"));
    Press('A');
    ShowFrame(0);
    Press('R');
    expectShows(32, "BRGW", "frame 0 turned");
    Press(VK_RIGHT, {VK_CONTROL});
    expectShows(32, "RGWB", "frame 1 turned");
}

// The window after a press shows what loading and composing the picture in the view shows:
// pixels, frames, title, icon.
static void ExpectShowsAsLoaded(const fs::path& file) {
    AppState loaded;
    loaded.view = app.view;
    ASSERT_EQ(LoadImageFile(loaded.onShow.picture, file.c_str()), LoadResult::kLoaded);
    ComposeBackBuffer(loaded.onShow, loaded.view);
    EXPECT_EQ(app.currentName, file.filename());
    EXPECT_EQ(BackBufferPixels(app), BackBufferPixels(loaded)) << file;
    EXPECT_EQ(
        std::tie(app.onShow.picture.frameCount, app.onShow.picture.frameDelaysMs, app.onShow.frame),
        std::tie(loaded.onShow.picture.frameCount, loaded.onShow.picture.frameDelaysMs,
                 loaded.onShow.frame));
    const HICON icon = MakeImageIcon(loaded.onShow.picture, 32);
    EXPECT_EQ(IconPixels(app.bigIcon), IconPixels(icon));
    DestroyIcon(icon);
    ReleaseBackBuffer(loaded.onShow);
}

// Read ahead, the next picture shows as a load would have shown it, in the view as it is at the
// press. A file held by another program while the read-ahead came to it shows once let go; one
// locked once read ahead still shows, so the press did not read it again; one that changed or
// vanished since is seen as it is. Auto-repeats of Page Down queued up count once.
TEST(Window, ReadAheadShowsWhatALoadWouldAndTheFolderAsItIs) {
    TempFolder folder;
    const fs::path a = folder.Copy(L"noise_97x61.png", L"a.png"),
                   b = folder.Copy(L"noise_rgba_53x37.png", L"b.png");
    folder.Copy(L"not_an_image.png", L"c.png");
    const fs::path d = folder.Copy(L"anim3_16x16.gif", L"d.gif");
    const auto hold = [](const fs::path& file) {
        const HANDLE lock =
            CreateFileW(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(lock, INVALID_HANDLE_VALUE) << file;
        return lock;
    };
    const HANDLE held = hold(b);
    OpenViewerOn(a);
    WaitForWorkers();
    CloseHandle(held);
    Press(VK_RIGHT);
    ExpectShowsAsLoaded(b);
    const auto pressRight = [&](const fs::path& locked) {
        WaitForWorkers();
        const HANDLE lock = hold(locked);
        Press(VK_RIGHT);
        CloseHandle(lock);
    };
    Press(VK_UP), Press('B');  // a view the read-ahead did not see
    pressRight(d);
    ExpectShowsAsLoaded(d);
    WaitForWorkers();
    folder.Copy(L"red_40x30.png", L"a.png");
    Press(VK_RIGHT);
    ExpectShowsAsLoaded(a);
    WaitForWorkers();
    fs::remove(b);
    Press(VK_RIGHT);
    ExpectShowsAsLoaded(d);
    const std::pair<UINT, LPARAM> keys[] = {{WM_KEYDOWN, 1 << 30},
                                            {WM_KEYDOWN, 1 << 30},
                                            {WM_KEYDOWN, 1 << 30},
                                            {WM_KEYUP, 3 << 30},
                                            {WM_KEYDOWN, 0}};
    for (const auto& [message, flags] : keys) PostMessageW(app.window, message, VK_NEXT, flags);
    WaitFor([] { return true; });
    EXPECT_EQ(app.currentName, a.filename())
        << "repeats waiting when the key was let go are dropped";
}

static BOOL WINAPI ReadFileVerySlowly(HANDLE file, void* to, DWORD size, DWORD* read,
                                      OVERLAPPED* at) {
    Sleep(300);
    return realReadFile(file, to, size, read, at);
}

static int submissionsToRefuse = 0;
static decltype(&TrySubmitThreadpoolCallback) realSubmit;
static BOOL WINAPI SubmitUnlessRefused(PTP_SIMPLE_CALLBACK callback, PVOID context,
                                       PTP_CALLBACK_ENVIRON environment) {
    if (submissionsToRefuse > 0 && submissionsToRefuse--) return FALSE;
    return realSubmit(callback, context, environment);
}

// Pumps this thread's messages until condition holds; the longest that one of them took, in ms.
static DWORD LongestMessageMs(const std::function<bool()>& condition) {
    DWORD longest = 0;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 10000;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            const DWORD began = GetTickCount();
            DispatchMessageW(&message);
            longest = std::max(longest, GetTickCount() - began);
        }
        if (condition()) break;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    return longest;
}

// Two pictures that memory cannot hold together, nor one beside a copy of itself: a press lets go
// of the picture on show before it decodes the next, whether it goes right, left, to a dropped
// file or round a folder of one, and the window answers at once meanwhile, even while a decode
// that cannot be cut short holds the room. Once memory is short for every picture, the view and
// title on show stay, and the next press tries again. A job the pool refuses is handed again, and
// a listing that is empty is walked by no press. The cap stands in for a 32-bit address space.
TEST(Window, PicturesThatCannotBeHeldTogetherShowOneAfterTheOther) {
    TempFolder folder, alone;
    const fs::path a = folder.Copy(L"noise_97x61.png", L"a.png"),
                   b = folder.Copy(L"noise2_97x61.png", L"b.png"),
                   c = folder.Copy(L"noise_97x61.png", L"c.png"),
                   only = alone.Copy(L"noise_97x61.png", L"only.png");
    constexpr uint64_t kOnePicture = 48 << 10;  // 24 kB of pixels, 8 kB of reductions
    struct Cap {
        Cap() {
            CapPixelMemoryForTests(kOnePicture);
        }
        ~Cap() {
            CapPixelMemoryForTests(UINT64_MAX);
        }
    } cap;
    OpenViewerOn(a);
    const auto expectShows = [](const fs::path& file) {
        WaitForWorkers();
        CapPixelMemoryForTests(UINT64_MAX);
        ExpectShowsAsLoaded(file);
        CapPixelMemoryForTests(kOnePicture);
    };
    Press(VK_RIGHT);
    expectShows(b);
    Press(VK_LEFT);
    expectShows(a);
    ReleaseAllWork();
    decltype(&ReadFile)* const reads = ReadFileImport();
    ASSERT_TRUE(reads);
    *reads = ReadFileVerySlowly;
    for (int press = 0; press < 2; ++press) PostMessageW(app.window, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_LT(LongestMessageMs([] { return !PressPending(); }), 50u) << "room made beside b";
    *reads = realReadFile;
    expectShows(c);
    // Every picture needs more than there is: all are tried, and c stays.
    const std::vector<DWORD> view = BackBufferPixels(app);
    CapPixelMemoryForTests(0);
    Press(VK_RIGHT);
    EXPECT_EQ(
        std::tuple(IsWindow(app.window), std::wstring(app.currentName), BackBufferPixels(app)),
        std::tuple(TRUE, std::wstring(L"c.png"), view));
    CapPixelMemoryForTests(kOnePicture);
    const auto submissions = ImportSlot(TrySubmitThreadpoolCallback);
    ASSERT_TRUE(submissions);
    realSubmit = *submissions;
    *submissions = SubmitUnlessRefused;
    submissionsToRefuse = 1;
    SendMessageW(app.window, WM_KEYDOWN, VK_RIGHT, 0);
    EXPECT_TRUE(WaitFor([] { return !PressPending(); })) << "refused by the pool";
    *submissions = realSubmit;
    expectShows(a);
    OpenHere(only.c_str());
    BringWindowUpToDate();
    WaitFor([] { return !PressPending(); });
    expectShows(only);
    Press(VK_RIGHT);
    expectShows(only);
    // As in a folder that cannot be listed.
    app.fileNames.clear();
    AskWorkersAround();
    for (const int key : {VK_RIGHT, VK_HOME, VK_END}) Press(key);
    expectShows(only);
}

static std::atomic<int> decodesBegun{0};
static decltype(&Gdiplus::DllExports::GdipLoadImageFromStreamICM) realLoad;
// Each decode takes long enough that both read-aheads have read their headers before either ends.
static Gdiplus::GpStatus WINAPI CountDecode(IStream* stream, Gdiplus::GpImage** image) {
    ++decodesBegun;
    Sleep(300);
    return realLoad(stream, image);
}

// Beside the picture on show, the budget leaves room for one more: of the two entries read ahead
// at once, on two processors, only one is decoded, as each counts what the other has in flight.
// The next entry, whose header declares no size, is left to the press.
TEST(Window, ReadAheadCountsWhatIsInFlight) {
    TempFolder folder;
    folder.Copy(L"noise_rgba_53x37.tga", L"b.tga");
    for (const wchar_t* name : {L"a.png", L"c.png", L"d.png"}) {
        folder.Copy(L"noise_97x61.png", name);
    }
    // GDI+'s functions are declared without dllimport: their import is found by their address.
    const auto loads = ImportSlot(reinterpret_cast<decltype(realLoad)>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"gdiplus"), "GdipLoadImageFromStreamICM"))));
    ASSERT_TRUE(loads);
    realLoad = *loads;
    *loads = CountDecode;
    decodesBegun = 0;
    CapPixelMemoryForTests(80 << 10);  // two pictures of 32 kB with their reductions, not three
    OpenViewerOn(folder.path / L"a.png");
    WaitForWorkers();
    CapPixelMemoryForTests(UINT64_MAX);
    *loads = realLoad;
    EXPECT_EQ(decodesBegun, 2) << "a, then one of c and d";
}

// A photo not read ahead shows its preview at once, before its picture is decoded: upright (blue,
// red, green and white quarters clockwise from the top left), without the letterbox bars of its
// thumbnail, where the picture goes. Then its own decode at an eighth of its size, upright; then
// the picture.
TEST(Window, APhotoShowsItsPreviewAtOnceThenItsPicture) {
    TempFolder folder;
    const fs::path a = folder.Copy(L"red_40x30.png", L"a.png");
    const fs::path b = folder.Copy(L"thumb_big_6.jpg", L"b.jpg");
    for (const wchar_t* name : {L"c.png", L"d.png"}) folder.Copy(L"red_40x30.png", name);
    OpenViewerOn(a);
    Press(VK_SPACE);  // fitted: the small picture shows at its own size
    ReleaseAllWork();
    SendMessageW(app.window, WM_KEYDOWN, VK_RIGHT, 0);
    ASSERT_TRUE(WaitFor([] { return app.onShow.preview; }));
    const Placement at = ComputePlacement(app.view, app.onShow.picture);
    const std::vector<DWORD> shown = BackBufferPixels(app);
    const auto pixel = [&](int x, int y) {
        return shown[size_t(at.y + y) * app.view.clientWidth + at.x + x];
    };
    EXPECT_EQ(std::tuple(app.currentName, app.onShow.picture.imageWidth,
                         app.onShow.picture.imageHeight, Corners(pixel, at.width, at.height)),
              std::tuple(std::wstring(L"b.jpg"), 4000, 6000, std::string("BRGW")));
    ASSERT_TRUE(WaitFor([] { return !app.onShow.rough; }));
    EXPECT_EQ(std::tuple(app.onShow.preview, app.onShow.picture.levels[0].width,
                         app.onShow.picture.levels[0].height),
              std::tuple(true, 500, 750));
    ASSERT_TRUE(WaitFor([] { return !app.onShow.preview; }));
    ExpectShowsAsLoaded(b);
}

// Hundreds of damaged pictures of every format, walked both ways with the read-ahead running:
// nothing crashes or hangs, each way shows the same pictures, the other way round, and among them
// all 16 undamaged ones, whichever decoder reads them.
TEST(Window, DamagedPicturesAreWalkedPastBothWays) {
    OpenViewerOn(Fixture(L"damaged") / L"bmp24-whole.bmp");
    ASSERT_TRUE(IsWindow(app.window));
    const std::wstring start = app.currentName;
    const auto walk = [&](WPARAM key) {
        std::vector<std::wstring> shown;
        do {
            Press(key);
            shown.push_back(app.currentName);
        } while (shown.back() != start && shown.size() <= app.fileNames.size());
        return shown;
    };
    const std::vector<std::wstring> right = walk(VK_RIGHT), left = walk(VK_LEFT);
    ASSERT_EQ(right.back(), start);
    const auto whole = [](const std::wstring& name) { return name.find(L"-whole.") != name.npos; };
    EXPECT_EQ(std::count_if(right.begin(), right.end(), whole), 16);
    ASSERT_EQ(right.size(), left.size());
    EXPECT_TRUE(std::equal(right.rbegin() + 1, right.rend(), left.begin()));
}

// Pixels held premultiplied keep each channel of a pixel of alpha a in steps of 255 / a: a copy
// has the alpha of the file and its colours within one step.
static testing::AssertionResult SameWithinAStep(const std::vector<DWORD>& got,
                                                const std::vector<DWORD>& want) {
    if (got.size() != want.size()) return testing::AssertionFailure() << got.size() << " pixels";
    for (size_t i = 0; i < got.size(); ++i) {
        const int alpha = int(want[i] >> 24);
        for (const int shift : {24, 16, 8, 0}) {
            const int step = std::abs(int(got[i] >> shift & 0xFF) - int(want[i] >> shift & 0xFF));
            if (alpha != 0 && (shift == 24 ? step != 0 : step * alpha > 255)) {
                return testing::AssertionFailure() << std::hex << got[i] << " for " << want[i];
            }
        }
    }
    return testing::AssertionSuccess();
}

// Ctrl+C copies the frame on show at its own size with its transparency, as bitmaps and PNG;
// Ctrl+Shift+C the file.
TEST(Window, CopiesThePictureAndTheFileToTheClipboard) {
    const fs::path file = Fixture(L"pages_200x100_50x40.tif");
    OpenViewerOn(file);
    Gdiplus::Bitmap original(file.c_str());
    for (const int page : {0, 1}) {
        original.SelectActiveFrame(&Gdiplus::FrameDimensionPage, page);
        const std::vector<DWORD> want = BitmapPixels(original);
        ShowFrame(page);
        Press('C', {VK_CONTROL});
        ASSERT_TRUE(OpenClipboard(nullptr));
        EXPECT_TRUE(SameWithinAStep(DibPixels(ClipboardBytes(CF_DIBV5)), want)) << page;
        EXPECT_TRUE(SameWithinAStep(DibPixels(ClipboardBytes(CF_DIB)), want)) << page;
        const std::string png = ClipboardBytes(RegisterClipboardFormatW(L"PNG"));
        CloseClipboard();
        const HGLOBAL memory = GlobalAlloc(GMEM_FIXED, png.size());
        std::memcpy(memory, png.data(), png.size());
        IStream* stream = nullptr;
        CreateStreamOnHGlobal(memory, TRUE, &stream);
        Gdiplus::Bitmap pasted(stream);
        stream->Release();
        EXPECT_TRUE(SameWithinAStep(BitmapPixels(pasted), want)) << page;
    }
    Press('C', {VK_CONTROL, VK_SHIFT});
    ASSERT_TRUE(OpenClipboard(nullptr));
    wchar_t copied[MAX_PATH] = {};
    DragQueryFileW(static_cast<HDROP>(GetClipboardData(CF_HDROP)), 0, copied, MAX_PATH);
    CloseClipboard();
    EXPECT_EQ(fs::path(copied), file);
    // A metafile's copy is transparent where it draws nothing: in its corners.
    TempFolder folder;
    ASSERT_EQ(
        LoadImageFile(app.onShow.picture, DrawCrossMetafile(folder.path / L"cross.emf").c_str()),
        LoadResult::kLoaded);
    Press('C', {VK_CONTROL});
    ASSERT_TRUE(OpenClipboard(nullptr));
    const std::vector<DWORD> cross = DibPixels(ClipboardBytes(CF_DIBV5));
    CloseClipboard();
    const size_t width = app.onShow.picture.imageWidth;
    ASSERT_EQ(cross.size(), width * app.onShow.picture.imageHeight);
    EXPECT_EQ(std::vector<DWORD>({cross[0], cross[width - 1], cross[cross.size() - width],
                                  cross.back(), cross[cross.size() / 2 + width / 2] & 0xFFFFFF}),
              std::vector<DWORD>({0, 0, 0, 0, kRed}));
}

// A file dropped from Explorer shows here with its folder, in the view as it was; a folder, a
// non-picture or a path too long to be given whole changes nothing. F5 goes on to the next entry if
// the one on show is gone; the storm lists the folder again the most.
TEST(Window, DroppedFilesAndTheFolderListedAgain) {
    TempFolder here, there, away;
    // 300 characters, of which the first 259 (all that a path may have) name a picture.
    const std::wstring tooLong =
        away.Copy(L"blue_20x10.gif", std::wstring(258 - away.path.wstring().size(), L'x'))
            .wstring() +
        std::wstring(41, L'x');
    here.Copy(L"red_40x30.png", L"a.png");
    const fs::path b = there.Copy(L"green_101x51.bmp", L"b.bmp");
    there.Copy(L"blue_20x10.gif", L"d.gif");
    OpenViewerOn(here.path / L"a.png");
    // Explorer drops files only on a window that says it takes them.
    EXPECT_TRUE(GetWindowLongW(app.window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    Press('B');
    Drop(there.path);
    Drop(Fixture(L"not_an_image.png"));
    Drop(tooLong);
    EXPECT_EQ(std::tuple(std::wstring(app.currentName), app.fileNames.size()),
              std::tuple(std::wstring(L"a.png"), size_t(1)));
    Drop(b);
    EXPECT_EQ(app.fileNames, std::vector<std::wstring>({L"b.bmp", L"d.gif"}));
    EXPECT_EQ(std::tuple(std::wstring(app.currentName), app.view.backgroundIndex),
              std::tuple(std::wstring(L"b.bmp"), 0));
    WaitForWorkers();  // a file deleted while it is being read goes once it is closed
    fs::remove(b);
    Press(VK_F5);
    EXPECT_STREQ(app.currentName, L"d.gif");
}

// A panorama of 320 megapixels, 1.3 GB decoded, shows fitted with its quarters at its corners.
// The 64-bit build reads it ahead on a machine of 12 GB, so a press shows it although the file is
// locked by then; the 32-bit build shows it where its address space has room.
TEST(Window, APanoramaOfMoreThan300MegapixelsShows) {
    TempFolder folder;
    const fs::path large = folder.Copy(L"quarters_20000x16000.png", L"b.png");
    OpenViewerOn(folder.Copy(L"red_40x30.png", L"a.png"));
    WaitForWorkers();
    const HANDLE lock =
        CreateFileW(large.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    Press(VK_RIGHT);
    CloseHandle(lock);
    MEMORYSTATUSEX memory = {};
    memory.dwLength = sizeof memory;
    GlobalMemoryStatusEx(&memory);
    if (sizeof(void*) == 8 && memory.ullTotalPhys >= 12ULL << 30) {
        EXPECT_STREQ(app.currentName, L"b.png") << "read ahead";
    }
    if (std::wcscmp(app.currentName, L"b.png") != 0) Press(VK_RIGHT);
    if (sizeof(void*) == 4 && std::wcscmp(app.currentName, L"b.png") != 0) {
        GTEST_SKIP() << "no room for the picture in 32 bits";
    }
    ASSERT_STREQ(app.currentName, L"b.png");
    Press(VK_SPACE);
    const Placement rect = ComputePlacement(app.view, app.onShow.picture);
    const std::vector<DWORD> pixels = BackBufferPixels(app);
    const auto at = [&](int x, int y) {
        return pixels[size_t(rect.y + y) * app.view.clientWidth + rect.x + x] & 0xFFFFFF;
    };
    const int right = rect.width - 3, bottom = rect.height - 3;
    EXPECT_EQ(std::vector<DWORD>({at(2, 2), at(right, 2), at(right, bottom), at(2, bottom)}),
              std::vector<DWORD>({kRed, kGreen, 0xFFFFFF, kBlue}));
}
