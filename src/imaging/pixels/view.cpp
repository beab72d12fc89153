#include "imaging/pixels/view.h"

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

static bool HasArea(const View& view, const Picture& picture) {
    return view.clientWidth > 0 && view.clientHeight > 0 && picture.imageWidth > 0 &&
           picture.imageHeight > 0;
}

static Placement ComputeFitPlacement(const View& view, const Picture& picture) {
    const long double cw = view.clientWidth, ch = view.clientHeight;
    const long double clientAspect = cw / ch;
    const long double imageAspect =
        static_cast<long double>(picture.imageWidth) / picture.imageHeight;
    const long double ratio = clientAspect / imageAspect;
    if (imageAspect <= clientAspect) {
        const int width = TruncateToInt32(cw / ratio);
        return {view.clientWidth / 2 - width / 2, 0, width, view.clientHeight};
    }
    const int height = TruncateToInt32(ratio * ch);
    return {0, view.clientHeight / 2 - height / 2, view.clientWidth, height};
}

static Placement ComputeZoomPlacement(const View& view, const Picture& picture) {
    const long double z = view.zoom;
    return {
        TruncateToInt32(view.clientWidth / 2 - picture.imageWidth / 2 * z - view.panX),
        TruncateToInt32(view.clientHeight / 2 - picture.imageHeight / 2 * z - view.panY),
        TruncateToInt32(picture.imageWidth * z),
        TruncateToInt32(picture.imageHeight * z),
    };
}

// A zero-sized client (minimized) or an image without pixels gets an empty rectangle.
Placement ComputePlacement(const View& view, const Picture& picture) {
    if (!HasArea(view, picture)) return {0, 0, 0, 0};
    return view.fitToWindow ? ComputeFitPlacement(view, picture)
                            : ComputeZoomPlacement(view, picture);
}

float FitZoomFactor(const View& view, const Picture& picture) {
    if (!HasArea(view, picture)) return 1.0f;
    const long double cw = view.clientWidth, ch = view.clientHeight;
    const long double iw = picture.imageWidth, ih = picture.imageHeight;
    if (iw / ih <= cw / ch) return static_cast<float>(ch / ih);
    return static_cast<float>(cw / iw);
}

Rgb ResolveBackgroundColor(const View& view) {
    if (view.backgroundIndex < 0) {
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        return {GetRValue(face), GetGValue(face), GetBValue(face)};
    }
    const BYTE gray = kBackgroundGrays[view.backgroundIndex];
    return {gray, gray, gray};
}

Gdiplus::ARGB ToOpaqueArgb(Rgb color) {
    return 0xFF000000u | color.red << 16 | color.green << 8 | color.blue;
}

COLORREF ToColorref(Rgb color) {
    return RGB(color.red, color.green, color.blue);
}
