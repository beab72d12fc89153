#include "core/animation.h"

#include "core/app_state.h"
#include "imaging/decode/image_loading.h"

int WrapIndex(int index, int count) {
    if (index >= count) return 0;
    if (index < 0) return count - 1;
    return index;
}

// A failed load leaves no image until the walk through the folder finds the next one.
void ShowFrame(int index) {
    if (!HasPicture(app.onShow.picture)) return;
    app.onShow.frame = index;
    SelectFrame(app.onShow.picture, index);
    app.changed.view = true;
}

void StepFrame(int step) {
    if (!HasPicture(app.onShow.picture)) return;
    app.changed.frameTimer = true;
    ShowFrame(WrapIndex(app.onShow.frame + step, app.onShow.picture.frameCount));
}

// A still picture's icons show the frame it stopped on.
void ToggleAnimation() {
    app.animate = !app.animate;
    app.changed.frameTimer = true;
    if (!app.animate) app.changed.icons = true;
}
