#include "core/animation.h"

#include "core/app_state.h"
#include "imaging/pixels/composition.h"
#include "imaging/decode/image_loading.h"

int WrapIndex(int index, int count) {
    if (index >= count) return 0;
    if (index < 0) return count - 1;
    return index;
}

void ArmFrameTimer(int ms) {
    if (app.timerId == 0) app.timerId = kFrameTimerId;
    SetTimer(app.window, app.timerId, static_cast<UINT>(std::max(ms, 0)), nullptr);
}

void StopFrameTimer() {
    if (app.timerId == 0) return;
    KillTimer(app.window, app.timerId);
    app.timerId = 0;
}

void SyncAnimationTimer() {
    if (app.animate && app.picture.frameCount > 1) {
        ArmFrameTimer(app.picture.frameDelaysMs[app.currentFrame]);
    } else {
        StopFrameTimer();
    }
}

// A failed load leaves no image until the walk through the folder finds the next one.
void ShowFrame(int index) {
    if (!HasPicture(app.picture)) return;
    app.currentFrame = index;
    SelectFrame(app.picture, index);
    Refresh();
}

// The timer is re-armed before drawing, so each frame stays for its own delay.
void StepFrame(int step) {
    if (!HasPicture(app.picture)) return;
    const int index = WrapIndex(app.currentFrame + step, app.picture.frameCount);
    app.currentFrame = index;
    if (app.animate && app.picture.frameCount > 1) ArmFrameTimer(app.picture.frameDelaysMs[index]);
    ShowFrame(index);
}

void ToggleAnimation() {
    app.animate = !app.animate;
    SyncAnimationTimer();
    if (!app.animate) RefreshWindowIcons();
}
