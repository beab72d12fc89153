#pragma once
// Drives the real glim.exe from outside: starts it, gives it real input, reads the screen back.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "temp_folder.h"
// After the platform header, which brings in what it needs.
#include <tlhelp32.h>

namespace fs = std::filesystem;

// Colours as the screen is read back: 0xRRGGBB.
constexpr DWORD kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00,
                kMagenta = 0xFF00FF, kCyan = 0x00FFFF, kBlack = 0, kGray = 0x808080,
                kWhite = 0xFFFFFF;

inline DWORD ButtonFace() {
    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    return GetRValue(face) << 16 | GetGValue(face) << 8 | GetBValue(face);
}

using Rect = std::array<int, 4>;  // x, y, width, height

inline Rect WindowRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

// Where the viewer puts a fitted picture in its client area.
inline Rect FittedRect(SIZE client, int imageWidth, int imageHeight) {
    if (imageWidth * client.cy <= imageHeight * client.cx) {
        const int width = client.cy * imageWidth / imageHeight;
        return {client.cx / 2 - width / 2, 0, width, client.cy};
    }
    const int height = client.cx * imageHeight / imageWidth;
    return {0, client.cy / 2 - height / 2, client.cx, height};
}

// Where the viewer puts a zoomed and panned picture, widening its float zoom as it does.
inline Rect ZoomedRect(SIZE client, int imageWidth, int imageHeight, float zoom, int panX = 0,
                       int panY = 0) {
    // Through memory, as the viewer keeps it: x87 registers would hold more than a float.
    const volatile float stored = zoom;
    const long double z = stored;
    return {static_cast<int>(client.cx / 2 - imageWidth / 2 * z - panX),
            static_cast<int>(client.cy / 2 - imageHeight / 2 * z - panY),
            static_cast<int>(imageWidth * z), static_cast<int>(imageHeight * z)};
}

struct Shot {
    int width, height;
    std::vector<DWORD> pixels;  // 0xRRGGBB, top row first
    DWORD At(int x, int y) const {
        return pixels[y * width + x];
    }
    int Count(DWORD colour) const {
        return int(std::count(pixels.begin(), pixels.end(), colour));
    }
    // The bounds of the pixels of colour, or with except of the pixels of every other colour.
    Rect Box(DWORD colour, bool except = false) const {
        int left = width, top = height, right = -1, bottom = -1;
        for (int i = 0; i < width * height; ++i) {
            if ((pixels[i] == colour) == except) continue;
            left = std::min(left, i % width), right = std::max(right, i % width);
            top = std::min(top, i / width), bottom = std::max(bottom, i / width);
        }
        return right < 0 ? Rect{} : Rect{left, top, right - left + 1, bottom - top + 1};
    }
};

// From the screen itself: a window's own DC is black where it is covered.
inline Shot CaptureScreen(RECT area) {
    Shot shot = {area.right - area.left, area.bottom - area.top, {}};
    shot.pixels.resize(size_t(shot.width) * shot.height);
    const HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, shot.width, shot.height);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, shot.width, shot.height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info = {};
    info.bmiHeader = {
        sizeof info.bmiHeader, shot.width, -shot.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(memory, bitmap, 0, shot.height, shot.pixels.data(), &info, DIB_RGB_COLORS);
    for (DWORD& pixel : shot.pixels) pixel &= 0xFFFFFF;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return shot;
}

inline Shot CaptureClient(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return CaptureScreen(client);
}

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    for (const DWORD start = GetTickCount(); !condition(); Sleep(5)) {
        if (GetTickCount() - start > DWORD(timeoutMs)) return false;
    }
    return true;
}

// Polls until read() gives want; a failure tells the last value read.
template <class Read, class T>
testing::AssertionResult Becomes(Read read, const T& want, int timeoutMs = 5000) {
    auto last = read();
    if (WaitUntil([&] { return (last = read()) == want; }, timeoutMs)) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure()
           << "still " << testing::PrintToString(last) << ", want " << testing::PrintToString(want);
}

inline INPUT KeyInput(WORD key, DWORD up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    const bool extended = (key >= VK_LEFT && key <= VK_DOWN) || key == VK_DELETE;
    input.ki.dwFlags = up | (extended ? KEYEVENTF_EXTENDEDKEY : 0);
    return input;
}

// One batch: modifiers down, key down and up, modifiers up.
inline void Press(WORD key, const std::vector<WORD>& modifiers = {}) {
    std::vector<INPUT> inputs;
    for (WORD modifier : modifiers) inputs.push_back(KeyInput(modifier, 0));
    inputs.push_back(KeyInput(key, 0));
    inputs.push_back(KeyInput(key, KEYEVENTF_KEYUP));
    for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it) {
        inputs.push_back(KeyInput(*it, KEYEVENTF_KEYUP));
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

struct MouseStep {
    POINT at;  // on the screen; a wheel step turns the wheel wherever the pointer is
    DWORD flags = 0;
    int wheel = 0;
};

// One batch. Relative moves are accelerated, so every step goes to an absolute position, which
// runs 0..65535 across the screen: rounding this way lands on the pixel.
inline void Mouse(std::initializer_list<MouseStep> steps) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    std::vector<INPUT> inputs;
    for (const MouseStep& step : steps) {
        INPUT input = {};
        input.type = INPUT_MOUSE;
        input.mi.dx = (step.at.x * 65535 + (width - 1) / 2) / (width - 1);
        input.mi.dy = (step.at.y * 65535 + (height - 1) / 2) / (height - 1);
        input.mi.dwFlags =
            step.flags | (step.wheel ? MOUSEEVENTF_WHEEL : MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE);
        input.mi.mouseData = static_cast<DWORD>(step.wheel);
        inputs.push_back(input);
    }
    SendInput(UINT(inputs.size()), inputs.data(), sizeof(INPUT));
}

// A visible top-level window of the class (and title), in any process when processId is 0.
inline HWND FindTopWindow(DWORD processId, const wchar_t* className,
                          const wchar_t* title = nullptr) {
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, title));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if ((!processId || owner == processId) && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

inline int CountTopWindows(DWORD processId, const wchar_t* className) {
    int count = 0;
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        count += owner == processId && IsWindowVisible(window);
    }
    return count;
}

// A window shows some milliseconds before it is activated; keys sent between are lost.
inline bool ActivateWindow(HWND window) {
    return WaitUntil([&] {
        SetForegroundWindow(window);
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
        return GetForegroundWindow() == window && info.hwndFocus == window;
    });
}

// Presses a dialog's button as a click on it would.
inline void Answer(HWND dialog, int button) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
}

inline std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline fs::path BesideTests(const char* relative) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return (fs::path(program).parent_path() / relative).lexically_normal();
}

inline fs::path Fixture(const wchar_t* name) {
    return BesideTests(GLIM_E2E_FIXTURES) / name;
}

using Arguments = std::vector<std::wstring>;

// One glim.exe started on arguments. At the end it is ended if still running, and so is every
// copy it started (copies start before its window shows, so by then they are all there).
struct Viewer {
    explicit Viewer(const Arguments& arguments) {
        std::wstring commandLine = L"\"" + BesideTests(GLIM_E2E_EXE).wstring() + L"\"";
        for (const std::wstring& argument : arguments) commandLine += L" \"" + argument + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &startup, &info)) {
            ADD_FAILURE() << "cannot start glim.exe: error " << GetLastError();
        }
        CloseHandle(info.hThread);
        process = info.hProcess;
        processId = info.dwProcessId;
    }
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;
    ~Viewer() {
        if (!process) return;
        const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32W entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            // Only copies: the viewer may also have started Wine's own desktop or services.
            if (entry.th32ParentProcessID == processId && !_wcsicmp(entry.szExeFile, L"glim.exe")) {
                End(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
            }
        }
        CloseHandle(snapshot);
        End(process);
    }
    static void End(HANDLE running) {
        TerminateProcess(running, 99);
        WaitForSingleObject(running, 5000);
        CloseHandle(running);
    }

    bool WaitForWindow() {
        sawWindow = WaitUntil([&] { return (window = FindTopWindow(processId, L"Glim")); }, 10000);
        return sawWindow && Activate();
    }
    bool Activate() const {
        return ActivateWindow(window);
    }
    // The exit code, or STILL_ACTIVE after ten seconds; notes any window shown meanwhile.
    DWORD WaitForExit() {
        WaitUntil(
            [&] {
                sawWindow = sawWindow || FindTopWindow(processId, L"Glim");
                return WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
            },
            10000);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(process, &code);
        return code;
    }

    std::wstring Title() const {
        wchar_t title[MAX_PATH] = {};
        GetWindowTextW(window, title, MAX_PATH);
        return title;
    }
    SIZE Client() const {
        RECT client = {};
        GetClientRect(window, &client);
        return {client.right, client.bottom};
    }
    POINT ToScreen(int x, int y) const {
        POINT point = {x, y};
        ClientToScreen(window, &point);
        return point;
    }
    Shot Capture() const {
        return CaptureClient(window);
    }

    HANDLE process = nullptr;
    DWORD processId = 0;
    HWND window = nullptr;
    bool sawWindow = false;
};

// Waits until the client shows the picture filling rect, on background everywhere else.
inline testing::AssertionResult ShowsPictureAt(const Viewer& viewer, DWORD background,
                                               const Rect& rect) {
    auto placed = Becomes([&] { return viewer.Capture().Box(background, true); }, rect);
    const Shot shot = viewer.Capture();
    if (!placed || shot.Count(background) == shot.width * shot.height - rect[2] * rect[3]) {
        return placed;
    }
    return testing::AssertionFailure() << "background shows inside the picture";
}

// Saves a PNG whose pixel colours come from colour(x, y).
inline void SavePicture(const fs::path& file, int width, int height,
                        const std::function<DWORD(int x, int y)>& colour) {
    std::vector<DWORD> pixels(size_t(width) * height);
    for (int i = 0; i < width * height; ++i) pixels[i] = colour(i % width, i / width);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
    // The PNG encoder's class, the same on every system.
    const CLSID png = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0, 0, 0xf8, 0x1e, 0xf3, 0x2e}};
    EXPECT_EQ(Gdiplus::Bitmap(width, height, width * 4, PixelFormat32bppRGB,
                              reinterpret_cast<BYTE*>(pixels.data()))
                  .Save(file.c_str(), &png, nullptr),
              Gdiplus::Ok);
    Gdiplus::GdiplusShutdown(token);
}
