#include "imaging/composition.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "core/app_state.h"
#include "core/geometry.h"

using Gdiplus::Graphics;

namespace {

// A client-sized ARGB bitmap whose zeroed pixels, top row first, live in a DIB section: GDI+
// draws into it as into a bitmap of its own, and presenting it is one GDI copy.
bool CreateBackBuffer(AppState& state) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = state.clientWidth;
    info.bmiHeader.biHeight = -state.clientHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    state.backBufferPixels = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!state.backBufferPixels) return false;
    state.backBuffer.reset(new Gdiplus::Bitmap(state.clientWidth, state.clientHeight,
                                               state.clientWidth * 4, PixelFormat32bppARGB,
                                               static_cast<BYTE*>(pixels)));
    return state.backBuffer->GetLastStatus() == Gdiplus::Ok;
}

// Pixel formats without transparency that GDI+ draws: a picture in one of them hides what is
// under it. Windows' GDI+ may refuse to draw 16-bit gray, which would leave the clear undone.
bool IsOpaqueFormat(Gdiplus::PixelFormat format) {
    switch (format) {
        case PixelFormat16bppRGB555:
        case PixelFormat16bppRGB565:
        case PixelFormat24bppRGB:
        case PixelFormat32bppRGB:
        case PixelFormat48bppRGB:
            return true;
        default:
            return false;
    }
}

// Client pixels this far inside the picture's edge are the picture's own: a scaled draw blends
// its outermost pixels with what lies beyond the picture.
int EdgeMargin(const AppState& state, const Placement& rect) {
    return 2 + std::max(rect.width / std::max(state.imageWidth, 1),
                        rect.height / std::max(state.imageHeight, 1));
}

// The clear is skipped where an opaque picture covers the whole client area anyway.
bool PictureHidesBackground(const AppState& state, const Placement& rect) {
    if (!state.image || !IsOpaqueFormat(state.image->GetPixelFormat())) return false;
    const long long margin = EdgeMargin(state, rect);
    return rect.x <= -margin && rect.y <= -margin &&
           rect.x + static_cast<long long>(rect.width) >= state.clientWidth + margin &&
           rect.y + static_cast<long long>(rect.height) >= state.clientHeight + margin;
}

// A picture scaled by a power of two from 1/16 to 16: client pixels = picture pixels * up / down.
struct Scale {
    int up;
    int down;
};

// At such a scale every picture pixel lands on whole client pixels, and GDI+ gives it the same
// colour wherever the picture lies; other scales sample at places that depend on the position.
bool FindPowerOfTwoScale(const AppState& state, const Placement& rect, Scale* scale) {
    const long long width = state.imageWidth, height = state.imageHeight;
    if (width <= 0 || height <= 0) return false;
    for (int k = 0; k <= 4; ++k) {
        if (rect.width == width << k && rect.height == height << k) {
            *scale = {1 << k, 1};
            return true;
        }
        if (width == static_cast<long long>(rect.width) << k &&
            height == static_cast<long long>(rect.height) << k) {
            *scale = {1, 1 << k};
            return true;
        }
    }
    return false;
}

long long FloorDivide(long long a, long long b) {
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

struct Span {
    int start;
    int size;
};

// The picture pixels under `length` client pixels from `from` (counted from the picture's
// edge), with a margin that keeps the draw's own edge off them, in whole steps of the scale.
Span SourceSpan(long long from, int length, Scale scale, int imageSize) {
    const long long margin = 2 + 2LL * scale.down;
    long long start = FloorDivide(from * scale.down, scale.up) - margin;
    long long end = FloorDivide((from + length) * scale.down + scale.up - 1, scale.up) + margin;
    start = std::clamp<long long>(FloorDivide(start, scale.down) * scale.down, 0, imageSize);
    end = std::clamp<long long>(FloorDivide(end + scale.down - 1, scale.down) * scale.down, 0,
                                imageSize);
    return {static_cast<int>(start), static_cast<int>(std::max(0LL, end - start))};
}

// A part of the back buffer, in client pixels.
struct Region {
    int x;
    int y;
    int width;
    int height;
};

// Draws the picture into a graphics whose origin is the region's corner. At a power-of-two
// scale only the picture pixels under the region are drawn: the same colours as a draw of the
// whole picture, without visiting the rest of a large one.
void DrawPicture(const AppState& state, Graphics& graphics, const Placement& rect,
                 const Region& region) {
    Scale scale;
    if (!FindPowerOfTwoScale(state, rect, &scale)) {
        graphics.DrawImage(state.image.get(), rect.x - region.x, rect.y - region.y, rect.width,
                           rect.height);
        return;
    }
    const Span columns = SourceSpan(static_cast<long long>(region.x) - rect.x, region.width, scale,
                                    state.imageWidth);
    const Span rows = SourceSpan(static_cast<long long>(region.y) - rect.y, region.height, scale,
                                 state.imageHeight);
    if (columns.size == 0 || rows.size == 0) return;
    const Gdiplus::Rect target(rect.x - region.x + columns.start / scale.down * scale.up,
                               rect.y - region.y + rows.start / scale.down * scale.up,
                               columns.size / scale.down * scale.up,
                               rows.size / scale.down * scale.up);
    graphics.DrawImage(state.image.get(), target, columns.start, rows.start, columns.size,
                       rows.size, Gdiplus::UnitPixel);
}

BYTE* BackBufferBits(const AppState& state) {
    DIBSECTION section = {};
    GetObjectW(state.backBufferPixels, sizeof section, &section);
    return static_cast<BYTE*>(section.dsBm.bmBits);
}

// The background, then the picture, in one region of the back buffer.
void ComposeRegion(AppState& state, const Placement& rect, const Region& region) {
    const int stride = state.clientWidth * 4;
    Gdiplus::Bitmap part(region.width, region.height, stride, PixelFormat32bppARGB,
                         BackBufferBits(state) + region.y * stride + region.x * 4);
    Graphics graphics(&part);
    graphics.SetInterpolationMode(state.smoothScaling
                                      ? Gdiplus::InterpolationModeHighQualityBilinear
                                      : Gdiplus::InterpolationModeNearestNeighbor);
    if (!PictureHidesBackground(state, rect)) {
        graphics.Clear(Gdiplus::Color(ToOpaqueArgb(ResolveBackgroundColor(state))));
    }
    if (state.image) DrawPicture(state, graphics, rect, region);
}

void RedrawBackBuffer(AppState& state, const Placement& rect) {
    ReleaseBackBuffer(state);
    if (state.clientWidth <= 0 || state.clientHeight <= 0) return;
    if (!CreateBackBuffer(state)) {
        ReleaseBackBuffer(state);
        return;
    }
    ComposeRegion(state, rect, {0, 0, state.clientWidth, state.clientHeight});
}

// Moves the back buffer's pixels by dx, dy, rows in the order that never overwrites one still
// to be read.
void ScrollBackBuffer(const AppState& state, int dx, int dy) {
    BYTE* bits = BackBufferBits(state);
    const int stride = state.clientWidth * 4;
    const size_t bytes = size_t(state.clientWidth - std::abs(dx)) * 4;
    for (int i = 0; i < state.clientHeight - std::abs(dy); ++i) {
        const int row = dy > 0 ? state.clientHeight - 1 - i : i;
        std::memmove(bits + row * stride + std::max(dx, 0) * 4,
                     bits + (row - dy) * stride + std::max(-dx, 0) * 4, bytes);
    }
}

bool SameExceptPlace(const Composition& a, const Composition& b) {
    return a.image == b.image && a.imageLoad == b.imageLoad && a.frame == b.frame &&
           a.width == b.width && a.height == b.height && a.smooth == b.smooth &&
           a.background == b.background;
}

// When only the picture's place changed, at a power-of-two scale, the pixels on show move with
// it and only the uncovered strips are composed. Nothing that changed keeps the buffer as it is.
bool MoveBackBuffer(AppState& state, const Composition& next, const Placement& rect) {
    if (!state.backBuffer || static_cast<int>(state.backBuffer->GetWidth()) != state.clientWidth ||
        static_cast<int>(state.backBuffer->GetHeight()) != state.clientHeight ||
        !SameExceptPlace(next, state.composed)) {
        return false;
    }
    const long long dx = static_cast<long long>(next.x) - state.composed.x;
    const long long dy = static_cast<long long>(next.y) - state.composed.y;
    if (dx == 0 && dy == 0) return true;
    Scale scale;
    if (!state.image || !FindPowerOfTwoScale(state, rect, &scale) ||
        std::llabs(dx) >= state.clientWidth || std::llabs(dy) >= state.clientHeight) {
        return false;
    }
    const int moveX = static_cast<int>(dx), moveY = static_cast<int>(dy);
    ScrollBackBuffer(state, moveX, moveY);
    const int width = state.clientWidth, height = state.clientHeight;
    if (moveX > 0) ComposeRegion(state, rect, {0, 0, moveX, height});
    if (moveX < 0) ComposeRegion(state, rect, {width + moveX, 0, -moveX, height});
    if (moveY > 0) ComposeRegion(state, rect, {0, 0, width, moveY});
    if (moveY < 0) ComposeRegion(state, rect, {0, height + moveY, width, -moveY});
    return true;
}

}  // namespace

// The GDI+ bitmap goes first: it draws into the section's memory.
void ReleaseBackBuffer(AppState& state) {
    state.backBuffer.reset();
    if (state.backBufferPixels) DeleteObject(state.backBufferPixels);
    state.backBufferPixels = nullptr;
}

void AdoptBackBuffer(AppState& to, AppState& from) {
    ReleaseBackBuffer(to);
    to.backBuffer = std::move(from.backBuffer);
    to.backBufferPixels = std::exchange(from.backBufferPixels, nullptr);
    to.composed = from.composed;
}

void ComposeBackBuffer(AppState& state) {
    const Placement rect = ComputePlacement(state);
    const Composition next = {state.image.get(),
                              state.imageLoads,
                              state.currentFrame,
                              rect.x,
                              rect.y,
                              rect.width,
                              rect.height,
                              state.smoothScaling,
                              ToOpaqueArgb(ResolveBackgroundColor(state))};
    if (!MoveBackBuffer(state, next, rect)) RedrawBackBuffer(state, rect);
    state.composed = next;
}

void Present() {
    PAINTSTRUCT paint;
    BeginPaint(app.window, &paint);
    // The persistent DC is never clipped to the update region, so the copy covers everything.
    if (app.backBuffer && app.backBufferPixels && app.windowDc) {
        const HDC source = CreateCompatibleDC(app.windowDc);
        const HGDIOBJ old = SelectObject(source, app.backBufferPixels);
        BitBlt(app.windowDc, 0, 0, static_cast<int>(app.backBuffer->GetWidth()),
               static_cast<int>(app.backBuffer->GetHeight()), source, 0, 0, SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    }
    EndPaint(app.window, &paint);
}

void Refresh() {
    ComposeBackBuffer(app);
    Present();
}

HICON MakeImageIcon(Gdiplus::Image* image, int size) {
    Gdiplus::Bitmap bitmap(size, size, PixelFormat32bppARGB);
    HICON icon = nullptr;
    if (bitmap.GetLastStatus() != Gdiplus::Ok) return icon;
    {
        Graphics graphics(&bitmap);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeLowQuality);
        if (image) graphics.DrawImage(image, 0, 0, size, size);
    }
    bitmap.GetHICON(&icon);
    return icon;
}

void RefreshWindowIcons() {
    InstallWindowIcons(MakeImageIcon(app.image.get(), 16), MakeImageIcon(app.image.get(), 32));
}

// The new icons are installed before the old ones are destroyed, so the window never
// holds a destroyed icon.
void InstallWindowIcons(HICON small, HICON big) {
    const HICON oldSmall = app.smallIcon;
    const HICON oldBig = app.bigIcon;
    app.smallIcon = small;
    app.bigIcon = big;
    SendMessageW(app.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app.smallIcon));
    SendMessageW(app.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app.bigIcon));
    if (oldSmall) DestroyIcon(oldSmall);
    if (oldBig) DestroyIcon(oldBig);
}
