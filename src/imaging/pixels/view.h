#pragma once
// imaging/pixels: the pixels the program owns, scaled and composed for the view.
#include "imaging/pixels/picture.h"
#include "platform/platform.h"

// Gray levels of the cycled backgrounds: black, mid gray, white.
constexpr BYTE kBackgroundGrays[] = {0, 128, 255};

// How the picture is shown: everything that composing the back buffer reads besides the picture.
struct View {
    bool smoothScaling = true;
    int backgroundIndex = -1;  // -1: system button face colour; 0..2: kBackgroundGrays
    float zoom = 1.0f;
    bool fitToWindow = true;
    int panX = 0;  // client pixels; positive moves the image left
    int panY = 0;  // client pixels; positive moves the image up
    int clientWidth = 0;
    int clientHeight = 0;
};

struct Rgb {
    BYTE red;
    BYTE green;
    BYTE blue;
};

// Where the picture goes in the client area of the view, in client pixels.
Placement ComputePlacement(const View& view, const Picture& picture);
float FitZoomFactor(const View& view, const Picture& picture);
Rgb ResolveBackgroundColor(const View& view);

Gdiplus::ARGB ToOpaqueArgb(Rgb color);
COLORREF ToColorref(Rgb color);

// Truncates toward zero; NaN, infinities and values outside 32 bits become INT_MIN.
int TruncateToInt32(long double value);
