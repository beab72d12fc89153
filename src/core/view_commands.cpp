#include "core/view_commands.h"

#include <climits>

#include "core/app_state.h"

// Pan offsets stop at the ends of the 32-bit range instead of wrapping.
static int AddSaturated(int a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    return static_cast<int>(std::clamp<long long>(sum, INT_MIN, INT_MAX));
}

void SetFitMode(bool on) {
    app.view.fitToWindow = on;
    app.changed.cursor = true;
}

// A preview is not the picture: the view changes, and shows when the picture comes.
static void MarkViewChanged() {
    app.changed.view = true;
}

void ToggleFit() {
    SetFitMode(!app.view.fitToWindow);
    MarkViewChanged();
}

void FitToZoom() {
    SetFitMode(false);
    app.view.zoom = FitZoomFactor(app.view, app.onShow.picture);
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
    MarkViewChanged();
}

// From another zoom the first press keeps the pan; a press at 1.0 recentres.
void ActualSize() {
    if (app.view.zoom == 1.0f) {
        app.view.panX = 0;
        app.view.panY = 0;
    }
    app.view.zoom = 1.0f;
    SetFitMode(false);
    MarkViewChanged();
}

void Pan(int dx, int dy) {
    app.view.panX = AddSaturated(app.view.panX, dx);
    app.view.panY = AddSaturated(app.view.panY, dy);
    MarkViewChanged();
}

// The pan offsets turn with the picture, so the point at the client centre stays there.
void TurnView(int quarters) {
    if (app.onShow.preview || !TurnPicture(app.onShow.picture, quarters)) return;
    for (int turn = 0; turn < (quarters % 4 + 4) % 4; ++turn) {
        const int panX = app.view.panX;
        app.view.panX = app.view.panY == INT_MIN ? INT_MAX : -app.view.panY;
        app.view.panY = panX;
    }
    MarkViewChanged();
    app.changed.icons = true;
}

// Cycles black, gray, white; only leaving fullscreen brings the system colour back.
void CycleBackground() {
    app.view.backgroundIndex = app.view.backgroundIndex + 1 > 2 ? 0 : app.view.backgroundIndex + 1;
    app.changed.background = true;
    MarkViewChanged();
}

void ToggleSmoothing() {
    app.view.smoothScaling = !app.view.smoothScaling;
    MarkViewChanged();
}
