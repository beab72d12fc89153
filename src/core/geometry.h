#pragma once
#include "core/app_state.h"

// Where the image goes in the client area, in client pixels.
struct Placement {
    int x;
    int y;
    int width;
    int height;
};

struct Rgb {
    BYTE red;
    BYTE green;
    BYTE blue;
};

Placement ComputePlacement(const AppState& state);
float FitZoomFactor(const AppState& state);
Rgb ResolveBackgroundColor(const AppState& state);

Gdiplus::ARGB ToOpaqueArgb(Rgb color);
COLORREF ToColorref(Rgb color);

// Truncates toward zero; NaN, infinities and values outside 32 bits become INT_MIN.
int TruncateToInt32(long double value);
