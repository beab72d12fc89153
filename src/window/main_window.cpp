#include "window/main_window.h"

#include "core/animation.h"
#include "core/app_state.h"
#include "core/navigation.h"
#include "imaging/pixels/composition.h"
#include "imaging/work/workers.h"
#include "window/input_bindings.h"
#include "window/presenting.h"
#include "window/window_modes.h"

namespace {

constexpr wchar_t kClassName[] = L"Glim";
constexpr int kMinimumSide = 128;

void RegisterMainWindowClass() {
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_DBLCLKS;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);
}

void ResizeClientArea(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    app.view.clientWidth = client.right;
    app.view.clientHeight = client.bottom;
    ComposeBackBuffer(app.onShow, app.view);
}

// Background erasing is let through only while the fullscreen toggle reshapes the window.
LRESULT EraseBackground(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!app.modeChangeInProgress) return 0;
    return DefWindowProcW(window, message, wParam, lParam);
}

// The first message: from here on every handler can rely on app.window, even during
// CreateWindowExW.
LRESULT AdoptWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    app.window = window;
    return DefWindowProcW(window, message, wParam, lParam);
}

// The outer size of a window whose client area suits the picture on the monitor that holds
// window (the primary one while there is none); a picture shown at actual size is not fitted.
SIZE MeasureForMonitor(HWND window) {
    const RECT monitor = MonitorRect(window);
    const InitialSize size =
        ComputeInitialSize(app.onShow.picture.imageWidth, app.onShow.picture.imageHeight,
                           monitor.right - monitor.left, monitor.bottom - monitor.top);
    app.view.fitToWindow = !size.actualSize;
    return {size.clientWidth + 2 * GetSystemMetrics(SM_CXFRAME),
            size.clientHeight + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFRAME)};
}

// Frames step; a held key's pause and work the pool could not take fire once.
void HandleTimer(UINT_PTR timer) {
    if (timer == kFrameTimerId) {
        // Armed for the next frame before it decodes, so that each frame stays for its delay; a
        // tick for a still picture only stops the timer.
        const Picture& picture = app.onShow.picture;
        if (app.animate && HasPicture(picture) && picture.frameCount > 1) {
            ArmFrameTimer(WrapIndex(app.onShow.frame + 1, picture.frameCount));
        }
        StepFrame(+1);
        return;
    }
    KillTimer(app.window, timer);
    if (timer == kHeldKeyTimerId) LetGoOfKey();
    if (timer == kRetryTimerId) RetryWork();
}

// Input and finished work: false for any other message.
bool HandleInput(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
            HandleKeyDown(wParam, lParam);
            return true;
        case WM_SYSCHAR:
            HandleSystemCharacter(wParam);
            return true;
        case WM_TIMER:
            HandleTimer(wParam);
            return true;
        case WM_KEYUP:
            HandleKeyUp();
            return true;
        case WM_MOUSEMOVE:
            TrackDrag(wParam, lParam);
            return true;
        case WM_DROPFILES:
            OpenDroppedFiles(reinterpret_cast<HDROP>(wParam));
            return true;
        case WM_MOUSEWHEEL:
            HandleWheel(wParam);
            return true;
        case kWorkFinished:
            ShowWhatWorkersFinished();
            return true;
    }
    return HandleMouseButton(message);
}

}  // namespace

InitialSize ComputeInitialSize(int imageWidth, int imageHeight, int screenWidth, int screenHeight) {
    int width = imageWidth, height = imageHeight;
    // On a screen smaller than the margin the halving stops at nothing left to halve.
    while ((screenWidth - kMinimumSide < width || screenHeight - kMinimumSide < height) &&
           (width > 0 || height > 0)) {
        width /= 2;
        height /= 2;
    }
    const bool actualSize = width < kMinimumSide && height < kMinimumSide;
    return {std::max(width, kMinimumSide), std::max(height, kMinimumSide), actualSize};
}

bool OpenMainWindow() {
    RegisterMainWindowClass();
    SIZE outer = MeasureForMonitor(nullptr);
    // Files dropped from Explorer arrive as WM_DROPFILES, as the shell's DragAcceptFiles would
    // arrange, without loading the shell at start.
    app.window = CreateWindowExW(WS_EX_ACCEPTFILES, kClassName, app.currentName,
                                 WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT, outer.cx,
                                 outer.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!app.window) return false;
    // Measured again on the monitor the window opened on; on the primary one nothing changes.
    outer = MeasureForMonitor(app.window);
    SetWindowPos(app.window, nullptr, 0, 0, outer.cx, outer.cy,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyCursor();
    ApplyBackgroundBrush();
    SyncAnimationTimer();
    TakeWindowIcons();
    ShowWindow(app.window, SW_SHOWNORMAL);
    app.windowDc = GetDC(app.window);
    // The first picture is on screen before the workers begin on the next; what they finished
    // meanwhile is taken at once.
    UpdateWindow(app.window);
    StartWorkers(app.window);
    AskWorkersAround();
    BringWindowUpToDate();
    PostMessageW(app.window, kWorkFinished, 0, 0);
    return true;
}

void RunMessageLoop() {
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool CreateMainWindow() {
    if (!OpenMainWindow()) return false;
    RunMessageLoop();
    // Gone at once, while the worker may still finish what it is doing.
    DestroyWindow(app.window);
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE:
            return AdoptWindow(window, message, wParam, lParam);
        case WM_SIZE:
            ResizeClientArea(window);
            return 0;
        case WM_PAINT:
            Present();
            return 0;
        case WM_ERASEBKGND:
            return EraseBackground(window, message, wParam, lParam);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
    }
    if (!HandleInput(message, wParam, lParam)) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    // What the input changed shows once it is handled, however many changes it made.
    BringWindowUpToDate();
    return 0;
}
