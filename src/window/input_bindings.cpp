#include "window/input_bindings.h"

#include "core/animation.h"
#include "core/app_state.h"
#include "core/navigation.h"
#include "core/view_commands.h"
#include "window/clipboard.h"
#include "window/window_modes.h"

namespace {

// Which modifier state a binding needs. Shift wins over Ctrl.
enum Chord { kPlain, kShift, kCtrl, kCtrlShift, kAlt, kAny };

using Command = void (*)(int argument);

struct KeyBinding {
    WPARAM key;
    Chord chord;
    Command command;
    int argument;
};

void PanHorizontally(int dx) {
    Pan(dx, 0);
}
void PanVertically(int dy) {
    Pan(0, dy);
}
void Quit(int) {
    PostQuitMessage(0);
}
void ActualSizeCommand(int) {
    ActualSize();
}
void ToggleFitCommand(int) {
    ToggleFit();
}
void ToggleFullscreenCommand(int) {
    ToggleFullscreen();
}
void ShowFilePropertiesCommand(int) {
    ShowFileProperties();
}
void DeleteCommand(int permanently) {
    DeleteCurrentFile(permanently != 0);
}
void ToggleAnimationCommand(int) {
    ToggleAnimation();
}
void CycleBackgroundCommand(int) {
    CycleBackground();
}
void ToggleSmoothingCommand(int) {
    ToggleSmoothing();
}
void ToggleTopmostCommand(int) {
    ToggleTopmost();
}
void CopyPictureCommand(int) {
    CopyPictureToClipboard();
}
void CopyFileCommand(int) {
    CopyFileToClipboard();
}
void OpenWithDialogCommand(int) {
    OpenWithDialog();
}
void ListFolderAgainCommand(int) {
    ListFolderAgain();
}

// The first row whose key and chord match wins.
// clang-format off
constexpr KeyBinding kKeyMap[] = {
    // key          chord       command                    argument
    {VK_LEFT,       kShift,     PanHorizontally,           -8},
    {VK_LEFT,       kCtrl,      StepFrame,                 -1},
    {VK_LEFT,       kPlain,     Navigate,                  -1},
    {VK_RIGHT,      kShift,     PanHorizontally,           +8},
    {VK_RIGHT,      kCtrl,      StepFrame,                 +1},
    {VK_RIGHT,      kPlain,     Navigate,                  +1},
    {VK_UP,         kShift,     PanVertically,             -8},
    {VK_UP,         kAny,       ZoomStep,                  +1},
    {VK_DOWN,       kShift,     PanVertically,             +8},
    {VK_DOWN,       kAny,       ZoomStep,                  -1},
    {VK_TAB,        kAny,       ActualSizeCommand,         0},
    {VK_SPACE,      kAny,       ToggleFitCommand,          0},
    {VK_RETURN,     kAlt,       ShowFilePropertiesCommand, 0},
    {VK_RETURN,     kAny,       ToggleFullscreenCommand,   0},
    {VK_ESCAPE,     kAny,       Quit,                      0},
    {VK_DELETE,     kShift,     DeleteCommand,             1},
    {VK_DELETE,     kAny,       DeleteCommand,             0},
    {'A',           kAny,       ToggleAnimationCommand,    0},
    {'B',           kAny,       CycleBackgroundCommand,    0},
    {'S',           kAny,       ToggleSmoothingCommand,    0},
    {'T',           kAny,       ToggleTopmostCommand,      0},
    {'C',           kCtrlShift, CopyFileCommand,           0},
    {'C',           kCtrl,      CopyPictureCommand,        0},
    {'O',           kCtrl,      OpenWithDialogCommand,     0},
    {VK_F5,         kAny,       ListFolderAgainCommand,    0},
};
// clang-format on

bool Matches(Chord chord, Modifiers modifiers) {
    switch (chord) {
        case kPlain:
            return !modifiers.shift && !modifiers.ctrl;
        case kShift:
            return modifiers.shift;
        case kCtrl:
            return modifiers.ctrl && !modifiers.shift;
        case kCtrlShift:
            return modifiers.ctrl && modifiers.shift;
        case kAlt:
            return modifiers.alt;
        case kAny:
            return true;
    }
    return false;
}

bool IsDown(int key) {
    return GetKeyState(key) & 0x8000;
}

constexpr LPARAM kRepeatFlag = 1 << 30;  // the key was already down

// An auto-repeated press is passed over while the entry the last press asked for is not on
// screen yet, or when the key's next message already waits: a further repeat, or the key let go.
// A held key moves on as fast as pictures (or their previews) show, and stops as soon as it is
// let go.
bool IsOvertakenRepeat(WPARAM key, LPARAM flags) {
    MSG next;
    return (flags & kRepeatFlag) &&
           (PressPending() ||
            (PeekMessageW(&next, app.window, WM_KEYDOWN, WM_KEYUP, PM_NOREMOVE) &&
             next.wParam == key && (next.message == WM_KEYUP || (next.lParam & kRepeatFlag))));
}

constexpr DWORD kWheelPauseMs = 500;  // ends one movement, so it does not tip the next

struct WheelTurn {
    int step;  // +1 in, -1 out, 0 none
    int leftover;
};

// A message of one or more whole notches makes one step. Parts of a notch add up, each whole
// notch of them one step; turning back or pausing drops what was left over.
WheelTurn TurnWheel(int leftover, int delta, DWORD elapsedMs) {
    if (elapsedMs >= kWheelPauseMs || leftover * delta < 0) leftover = 0;
    const int direction = delta < 0 ? -1 : +1;
    if (delta * direction >= WHEEL_DELTA) return {direction, leftover};
    leftover += delta;
    if (leftover * direction < WHEEL_DELTA) return {0, leftover};
    return {direction, leftover - direction * WHEEL_DELTA};
}

}  // namespace

Modifiers ReadModifiers() {
    return {IsDown(VK_SHIFT), IsDown(VK_CONTROL), IsDown(VK_MENU)};
}

void DispatchKey(WPARAM key, Modifiers modifiers) {
    for (const KeyBinding& binding : kKeyMap) {
        if (binding.key == key && Matches(binding.chord, modifiers)) {
            binding.command(binding.argument);
            return;
        }
    }
}

void HandleKeyDown(WPARAM key, LPARAM flags) {
    if (!IsOvertakenRepeat(key, flags)) DispatchKey(key, ReadModifiers());
}

void HandleSystemCharacter(WPARAM character) {
    if (character == '\r') ShowFileProperties();
}

void TrackDrag(WPARAM buttons, LPARAM position) {
    const int x = LOWORD(position);
    const int y = HIWORD(position);
    if (buttons == MK_LBUTTON) Pan(app.lastMouseX - x, app.lastMouseY - y);
    app.lastMouseX = x;
    app.lastMouseY = y;
}

// Message time, not the time of handling: a slow zoom must not make a pause of its own.
void HandleWheel(WPARAM wParam) {
    const DWORD time = GetMessageTime();
    const WheelTurn turn =
        TurnWheel(app.wheelLeftover, GET_WHEEL_DELTA_WPARAM(wParam), time - app.wheelTime);
    app.wheelLeftover = turn.leftover;
    app.wheelTime = time;
    if (turn.step != 0) ZoomStep(turn.step);
}
