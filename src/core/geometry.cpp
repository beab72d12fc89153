#include "core/geometry.h"

#include <climits>
#include <limits>

// Placement must match the x87 unit's extended precision: double gives some sizes one pixel less.
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the x87 80-bit format");

int TruncateToInt32(long double value) {
    // The negated test also catches NaN, whose comparisons are all false.
    if (!(value > -2147483649.0L && value < 2147483648.0L)) return INT_MIN;
    return static_cast<int>(value);
}

static bool HasArea(const AppState& state) {
    return state.view.clientWidth > 0 && state.view.clientHeight > 0 &&
           state.picture.imageWidth > 0 && state.picture.imageHeight > 0;
}

static Placement ComputeFitPlacement(const AppState& state) {
    const long double cw = state.view.clientWidth, ch = state.view.clientHeight;
    const long double clientAspect = cw / ch;
    const long double imageAspect =
        static_cast<long double>(state.picture.imageWidth) / state.picture.imageHeight;
    const long double ratio = clientAspect / imageAspect;
    if (imageAspect <= clientAspect) {
        const int width = TruncateToInt32(cw / ratio);
        return {state.view.clientWidth / 2 - width / 2, 0, width, state.view.clientHeight};
    }
    const int height = TruncateToInt32(ratio * ch);
    return {0, state.view.clientHeight / 2 - height / 2, state.view.clientWidth, height};
}

static Placement ComputeZoomPlacement(const AppState& state) {
    const long double z = state.view.zoom;
    return {
        TruncateToInt32(state.view.clientWidth / 2 - state.picture.imageWidth / 2 * z -
                        state.view.panX),
        TruncateToInt32(state.view.clientHeight / 2 - state.picture.imageHeight / 2 * z -
                        state.view.panY),
        TruncateToInt32(state.picture.imageWidth * z),
        TruncateToInt32(state.picture.imageHeight * z),
    };
}

// A zero-sized client (minimized) or an image without pixels gets an empty rectangle.
Placement ComputePlacement(const AppState& state) {
    if (!HasArea(state)) return {0, 0, 0, 0};
    return state.view.fitToWindow ? ComputeFitPlacement(state) : ComputeZoomPlacement(state);
}

float FitZoomFactor(const AppState& state) {
    if (!HasArea(state)) return 1.0f;
    const long double cw = state.view.clientWidth, ch = state.view.clientHeight;
    const long double iw = state.picture.imageWidth, ih = state.picture.imageHeight;
    if (iw / ih <= cw / ch) return static_cast<float>(ch / ih);
    return static_cast<float>(cw / iw);
}

Rgb ResolveBackgroundColor(const AppState& state) {
    if (state.view.backgroundIndex < 0) {
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        return {GetRValue(face), GetGValue(face), GetBValue(face)};
    }
    const BYTE gray = kBackgroundGrays[state.view.backgroundIndex];
    return {gray, gray, gray};
}

Gdiplus::ARGB ToOpaqueArgb(Rgb color) {
    return 0xFF000000u | color.red << 16 | color.green << 8 | color.blue;
}

COLORREF ToColorref(Rgb color) {
    return RGB(color.red, color.green, color.blue);
}
