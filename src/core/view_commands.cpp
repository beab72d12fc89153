#include "core/view_commands.h"

#include <climits>

#include "core/app_state.h"
#include "core/geometry.h"
#include "imaging/pixels/composition.h"

// Pan offsets stop at the ends of the 32-bit range instead of wrapping.
static int AddSaturated(int a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, INT_MIN, INT_MAX));
}

void SetFitMode(bool on) {
    app.view.fitToWindow = on;
    const HCURSOR cursor = LoadCursorW(nullptr, on ? IDC_ARROW : IDC_SIZEALL);
    SetClassLongPtrW(app.window, GCLP_HCURSOR, reinterpret_cast<LONG_PTR>(cursor));
    // Putting the pointer back where it is shows the new shape without waiting for a move.
    POINT pointer;
    if (GetCursorPos(&pointer)) SetCursorPos(pointer.x, pointer.y);
}

void ToggleFit() {
    SetFitMode(!app.view.fitToWindow);
    Refresh();
}

void FitToZoom() {
    SetFitMode(false);
    app.view.zoom = FitZoomFactor(app);
}

void ZoomStep(int direction) {
    if (app.view.fitToWindow) FitToZoom();
    if (direction < 1) {
        app.view.zoom = app.view.zoom * 0.5f;
        app.view.panX = app.view.panX / 2;
        app.view.panY = app.view.panY / 2;
    } else {
        app.view.zoom = app.view.zoom + app.view.zoom;
        app.view.panX = AddSaturated(app.view.panX, app.view.panX);
        app.view.panY = AddSaturated(app.view.panY, app.view.panY);
    }
    Refresh();
}

// From another zoom the first press keeps the pan; a press at 1.0 recentres.
void ActualSize() {
    if (app.view.zoom == 1.0f) {
        app.view.panX = 0;
        app.view.panY = 0;
    }
    app.view.zoom = 1.0f;
    SetFitMode(false);
    Refresh();
}

void Pan(int dx, int dy) {
    app.view.panX = AddSaturated(app.view.panX, dx);
    app.view.panY = AddSaturated(app.view.panY, dy);
    Refresh();
}

// The pan offsets turn with the picture, so the point at the client centre stays there.
void TurnView(int quarters) {
    if (app.showsPreview || !TurnPicture(app.picture, quarters)) return;
    for (int turn = 0; turn < (quarters % 4 + 4) % 4; ++turn) {
        const int panX = app.view.panX;
        app.view.panX = app.view.panY == INT_MIN ? INT_MAX : -app.view.panY;
        app.view.panY = panX;
    }
    Refresh();
    if (!app.fullscreen) RefreshWindowIcons();
}

// Cycles black, gray, white; only leaving fullscreen brings the system colour back.
void CycleBackground() {
    app.view.backgroundIndex = app.view.backgroundIndex + 1 > 2 ? 0 : app.view.backgroundIndex + 1;
    ApplyBackgroundBrush();
    Refresh();
}

void ToggleSmoothing() {
    app.view.smoothScaling = !app.view.smoothScaling;
    Refresh();
}

void ApplyBackgroundBrush() {
    const HBRUSH brush = CreateSolidBrush(ToColorref(ResolveBackgroundColor(app)));
    const LONG_PTR old =
        SetClassLongPtrW(app.window, GCLP_HBRBACKGROUND, reinterpret_cast<LONG_PTR>(brush));
    if (old) DeleteObject(reinterpret_cast<HBRUSH>(old));
}
