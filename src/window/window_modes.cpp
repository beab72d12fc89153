#include "window/window_modes.h"

#include <cwchar>

#include "core/animation.h"
#include "core/app_state.h"
#include "core/navigation.h"
#include "core/view_commands.h"
#include "platform/apartment.h"
#include "window/presenting.h"
#include "window/shell_open.h"

namespace {

constexpr LONG kFramelessStyleMask = ~static_cast<LONG>(WS_CAPTION | WS_THICKFRAME);

void EnterFullscreen() {
    SetFitMode(true);
    ShowCursor(FALSE);
    app.savedBackgroundIndex = app.view.backgroundIndex;
    app.view.backgroundIndex = 0;
    ApplyBackgroundBrush();
    app.savedStyle = GetWindowLongW(app.window, GWL_STYLE);
    RECT outer;
    GetWindowRect(app.window, &outer);
    app.savedLeft = outer.left;
    app.savedTop = outer.top;
    app.savedWidth = outer.right - outer.left;
    app.savedHeight = outer.bottom - outer.top;
    SetWindowLongW(app.window, GWL_STYLE, app.savedStyle & kFramelessStyleMask);
    const RECT monitor = MonitorRect(app.window);
    SetWindowPos(app.window, HWND_TOPMOST, monitor.left, monitor.top, monitor.right - monitor.left,
                 monitor.bottom - monitor.top, SWP_FRAMECHANGED);
}

// The brush is the restored background's before the window changes size, since the size change
// erases with it.
void LeaveFullscreen() {
    ShowCursor(TRUE);
    app.view.backgroundIndex = app.savedBackgroundIndex;
    ApplyBackgroundBrush();
    SetWindowLongW(app.window, GWL_STYLE, app.savedStyle);
    SetWindowPos(app.window, app.topmost ? HWND_TOPMOST : HWND_NOTOPMOST, app.savedLeft,
                 app.savedTop, app.savedWidth, app.savedHeight, SWP_FRAMECHANGED);
    app.changed.icons = true;
}

}  // namespace

RECT MonitorRect(HWND window) {
    MONITORINFO info = {};
    info.cbSize = sizeof info;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &info);
    return info.rcMonitor;
}

// The new picture comes from the size change that the new window shape causes.
void ToggleFullscreen() {
    app.modeChangeInProgress = true;
    app.fullscreen = !app.fullscreen;
    if (app.fullscreen) {
        EnterFullscreen();
    } else {
        LeaveFullscreen();
    }
    app.modeChangeInProgress = false;
}

// Fullscreen stays on top, so that no taskbar covers it; leaving it applies the choice.
void ToggleTopmost() {
    app.topmost = !app.topmost;
    if (app.fullscreen) return;
    SetWindowPos(app.window, app.topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE);
}

// The confirmation is owned by the window, so that it shows above a fullscreen (topmost)
// window instead of answering keys unseen behind it.
// Nothing the workers finish is taken while the shell asks, so the file asked about stays the one
// on show.
void DeleteCurrentFile(bool permanently) {
    if (app.deleting) return;
    app.deleting = true;
    StopFrameTimer();

    // The path is full, as the shell needs to recycle it (a relative one is deleted for good);
    // the list it takes ends with an empty entry.
    wchar_t paths[MAX_PATH + 1] = {};
    std::wcscpy(paths, app.onShow.path);
    SHFILEOPSTRUCTW operation = {};
    operation.hwnd = app.window;
    operation.wFunc = FO_DELETE;
    operation.pFrom = paths;
    operation.fFlags = permanently ? 0 : FOF_ALLOWUNDO;
    JoinApartment();
    SHFileOperationW(&operation);
    app.deleting = false;
    // Declined, refused, or never asked: the file is still there and stays on show.
    if (GetFileAttributesW(paths) != INVALID_FILE_ATTRIBUTES) {
        SyncAnimationTimer();
        ShowWhatWorkersFinished();
        return;
    }
    WalkOnFromDeleted();
}

void ShowFileProperties() {
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_INVOKEIDLIST;
    info.lpVerb = L"properties";
    info.lpFile = app.onShow.path;
    info.nShow = SW_SHOW;
    // Owned by the window, so that it shows above a fullscreen (topmost) one.
    info.hwnd = app.window;
    JoinApartment();
    ShellExecuteExW(&info);
}

void OpenDroppedFiles(HDROP drop) {
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        // Measured first: a longer path would be handed over cut short, naming another file.
        wchar_t path[MAX_PATH];
        if (DragQueryFileW(drop, i, nullptr, 0) >= MAX_PATH) continue;
        if (DragQueryFileW(drop, i, path, MAX_PATH) == 0) continue;
        if (i == 0) {
            OpenHere(path);
        } else {
            StartCopyForFile(path);
        }
    }
    DragFinish(drop);
}

void OpenWithDialog() {
    wchar_t path[MAX_PATH] = {};
    if (AskForFile(path, app.folderPath, app.window)) OpenHere(path);
}
