#include "window/input_bindings.h"

#include "core/animation.h"
#include "core/app_state.h"
#include "core/navigation.h"
#include "core/view_commands.h"
#include "window/clipboard.h"
#include "window/presenting.h"
#include "window/window_modes.h"

namespace {

// Modifier keys, as bits; kAny stands for every combination of them.
enum : unsigned { kNone = 0, kShift = 1, kCtrl = 2, kAlt = 4, kAny = 8 };

using Command = void (*)();

struct KeyBinding {
    WPARAM key;
    unsigned modifiers;  // held exactly
    Command command;
};

struct ButtonBinding {
    UINT message;
    Command command;
};

// One row at most for a key and its modifiers, so the order of rows decides nothing. Shift wins
// over Ctrl on the arrows and Delete.
// clang-format off
constexpr KeyBinding kKeyMap[] = {
    // key          modifiers               command
    {VK_LEFT,       kNone,                  [] { Navigate(-1); }},
    {VK_LEFT,       kShift,                 [] { Pan(-8, 0); }},
    {VK_LEFT,       kShift | kCtrl,         [] { Pan(-8, 0); }},
    {VK_LEFT,       kCtrl,                  [] { StepFrame(-1); }},
    {VK_RIGHT,      kNone,                  [] { Navigate(+1); }},
    {VK_RIGHT,      kShift,                 [] { Pan(+8, 0); }},
    {VK_RIGHT,      kShift | kCtrl,         [] { Pan(+8, 0); }},
    {VK_RIGHT,      kCtrl,                  [] { StepFrame(+1); }},
    {VK_UP,         kNone,                  [] { ZoomStep(+1); }},
    {VK_UP,         kShift,                 [] { Pan(0, -8); }},
    {VK_UP,         kShift | kCtrl,         [] { Pan(0, -8); }},
    {VK_UP,         kCtrl,                  [] { ZoomStep(+1); }},
    {VK_DOWN,       kNone,                  [] { ZoomStep(-1); }},
    {VK_DOWN,       kShift,                 [] { Pan(0, +8); }},
    {VK_DOWN,       kShift | kCtrl,         [] { Pan(0, +8); }},
    {VK_DOWN,       kCtrl,                  [] { ZoomStep(-1); }},
    {VK_PRIOR,      kNone,                  [] { Navigate(-1); }},
    {VK_NEXT,       kNone,                  [] { Navigate(+1); }},
    {VK_HOME,       kNone,                  [] { NavigateToEnd(-1); }},
    {VK_END,        kNone,                  [] { NavigateToEnd(+1); }},
    {VK_TAB,        kAny,                   ActualSize},
    {VK_SPACE,      kAny,                   ToggleFit},
    {VK_RETURN,     kAny,                   ToggleFullscreen},
    // Alt alone or with Shift makes a system key, whose character opens the properties.
    {VK_RETURN,     kCtrl | kAlt,           ShowFileProperties},
    {VK_RETURN,     kCtrl | kShift | kAlt,  ShowFileProperties},
    {VK_ESCAPE,     kAny,                   [] { PostQuitMessage(0); }},
    {VK_DELETE,     kNone,                  [] { DeleteCurrentFile(false); }},
    {VK_DELETE,     kShift,                 [] { DeleteCurrentFile(true); }},
    {VK_DELETE,     kShift | kCtrl,         [] { DeleteCurrentFile(true); }},
    {VK_DELETE,     kCtrl,                  [] { DeleteCurrentFile(false); }},
    {'A',           kAny,                   ToggleAnimation},
    {'B',           kAny,                   CycleBackground},
    {'C',           kCtrl,                  CopyPictureToClipboard},
    {'C',           kCtrl | kShift,         CopyFileToClipboard},
    {'O',           kCtrl,                  OpenWithDialog},
    {'R',           kNone,                  [] { TurnView(+1); }},
    {'R',           kShift,                 [] { TurnView(-1); }},
    {'R',           kCtrl,                  [] { TurnView(+1); }},
    {'S',           kAny,                   ToggleSmoothing},
    {'T',           kAny,                   ToggleTopmost},
    {VK_F5,         kAny,                   ListFolderAgain},
};

// Single clicks are not bound: the one before a double-click would act too.
constexpr ButtonBinding kButtonMap[] = {
    // message          command
    {WM_LBUTTONDBLCLK,  ToggleFullscreen},
    {WM_MBUTTONDOWN,    ToggleFit},
};
// clang-format on

bool IsDown(int key) {
    return GetKeyState(key) & 0x8000;
}

// The modifier keys as they are while the current message is handled.
unsigned HeldModifiers() {
    return (IsDown(VK_SHIFT) ? kShift : kNone) | (IsDown(VK_CONTROL) ? kCtrl : kNone) |
           (IsDown(VK_MENU) ? kAlt : kNone);
}

// The row for exactly the modifiers held; else, with Alt held, the row for the others alone, as
// Ctrl+Alt is how AltGr arrives and Alt counts only where a row names it; else the key's row for
// any modifiers.
Command FindCommand(WPARAM key, unsigned held) {
    for (const unsigned modifiers : {held, held & ~kAlt, unsigned(kAny)}) {
        for (const KeyBinding& binding : kKeyMap) {
            if (binding.key == key && binding.modifiers == modifiers) return binding.command;
        }
    }
    return nullptr;
}

constexpr LPARAM kRepeatFlag = 1 << 30;  // the key was already down
// A held key that sends no repeat for this long counts as let go: its picture begins.
constexpr UINT kHeldKeyPauseMs = 150;

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

void HandleKeyDown(WPARAM key, LPARAM flags) {
    if (flags & kRepeatFlag) {
        app.keyRepeating = true;
        SetTimer(app.window, kHeldKeyTimerId, kHeldKeyPauseMs, nullptr);
    } else if (app.keyRepeating) {
        HandleKeyUp();
    }
    if (IsOvertakenRepeat(key, flags)) return;
    if (const Command command = FindCommand(key, HeldModifiers())) command();
}

void HandleKeyUp() {
    if (!app.keyRepeating) return;
    KillTimer(app.window, kHeldKeyTimerId);
    LetGoOfKey();
}

bool HandleMouseButton(UINT message) {
    for (const ButtonBinding& binding : kButtonMap) {
        if (binding.message == message) {
            binding.command();
            return true;
        }
    }
    return false;
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
