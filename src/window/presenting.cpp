#include "window/presenting.h"

#include <utility>

#include "core/app_state.h"
#include "core/navigation.h"
#include "imaging/pixels/composition.h"

namespace {

// How soon work that the pool could not take is handed to it again.
constexpr UINT kRetryMs = 50;

// The new icons are installed before the old ones are destroyed, so the window never holds a
// destroyed icon.
void InstallWindowIcons(HICON small, HICON big) {
    const HICON oldSmall = app.smallIcon;
    const HICON oldBig = app.bigIcon;
    app.smallIcon = small;
    app.bigIcon = big;
    SendMessageW(app.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app.smallIcon));
    SendMessageW(app.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app.bigIcon));
    if (oldSmall) DestroyIcon(oldSmall);
    if (oldBig) DestroyIcon(oldBig);
}

// A preview is not the picture: the view changes, and shows when the picture comes. Where the
// picture was let go, what was on screen stays until the next one comes.
bool NeedsComposing(const Changes& changed) {
    return HasPicture(app.onShow.picture) &&
           (changed.picture || (changed.view && !app.onShow.preview));
}

}  // namespace

void BringWindowUpToDate() {
    const Changes changed = std::exchange(app.changed, {});
    if (!app.window) return;
    if (changed.cursor) ApplyCursor();
    if (changed.background) ApplyBackgroundBrush();
    // Another picture's frames start afresh.
    if (changed.picture) StopFrameTimer();
    // The frame timer is armed before drawing, so each frame stays for its own delay.
    if (changed.frameTimer || changed.picture) SyncAnimationTimer();
    if (NeedsComposing(changed)) {
        ComposeBackBuffer(app.onShow, app.view);
        Present();
    }
    if (changed.icons) TakeWindowIcons();
    if (changed.title) {
        SendMessageW(app.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(app.currentName));
    }
    if (!HandOutWork()) SetTimer(app.window, kRetryTimerId, kRetryMs, nullptr);
}

void Present() {
    PAINTSTRUCT paint;
    BeginPaint(app.window, &paint);
    // The persistent DC is never clipped to the update region, so the copy covers everything.
    const BackBuffer& buffer = app.onShow.backBuffer;
    if (buffer.bitmap && app.windowDc) {
        const HDC source = CreateCompatibleDC(app.windowDc);
        const HGDIOBJ old = SelectObject(source, buffer.bitmap);
        BitBlt(app.windowDc, 0, 0, buffer.width, buffer.height, source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    }
    EndPaint(app.window, &paint);
}

// Putting the pointer back where it is shows the new shape without waiting for a move.
void ApplyCursor() {
    const HCURSOR cursor = LoadCursorW(nullptr, app.view.fitToWindow ? IDC_ARROW : IDC_SIZEALL);
    SetClassLongPtrW(app.window, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
    POINT pointer;
    if (GetCursorPos(&pointer)) SetCursorPos(pointer.x, pointer.y);
}

void ApplyBackgroundBrush() {
    const HBRUSH brush = CreateSolidBrush(ToColorref(ResolveBackgroundColor(app.view)));
    const LONG_PTR old =
        SetClassLongPtrW(app.window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush));
    if (old) DeleteObject(reinterpret_cast<HBRUSH>(old));
}

void ArmFrameTimer(int frame) {
    if (app.timerId == 0) app.timerId = kFrameTimerId;
    app.timerFrame = frame;
    const int ms = app.onShow.picture.frameDelaysMs[frame];
    SetTimer(app.window, app.timerId, static_cast<UINT>(std::max(ms, 0)), nullptr);
}

// A timer armed for the frame on show already runs on: a tick arms it before the frame decodes.
void SyncAnimationTimer() {
    if (!app.animate || app.onShow.picture.frameCount <= 1) {
        StopFrameTimer();
    } else if (app.timerId == 0 || app.timerFrame != app.onShow.frame) {
        ArmFrameTimer(app.onShow.frame);
    }
}

void StopFrameTimer() {
    if (app.timerId == 0) return;
    KillTimer(app.window, app.timerId);
    app.timerId = 0;
}

// Icons a worker made come with the picture; others are made here.
void TakeWindowIcons() {
    const HICON small = std::exchange(app.onShow.smallIcon, nullptr);
    const HICON big = std::exchange(app.onShow.bigIcon, nullptr);
    if (app.fullscreen) {
        for (const HICON icon : {small, big}) {
            if (icon) DestroyIcon(icon);
        }
        return;
    }
    InstallWindowIcons(small ? small : MakeImageIcon(app.onShow.picture, 16),
                       big ? big : MakeImageIcon(app.onShow.picture, 32));
}
