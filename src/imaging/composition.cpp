#include "imaging/composition.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/app_state.h"
#include "core/geometry.h"

using Gdiplus::Graphics;

namespace {

// The GDI+ bitmap goes first: it draws into the section's memory.
void ReleaseBackBuffer() {
    app.backBuffer.reset();
    if (app.backBufferPixels) DeleteObject(app.backBufferPixels);
    app.backBufferPixels = nullptr;
}

// A client-sized ARGB bitmap whose zeroed pixels, top row first, live in a DIB section: GDI+
// draws into it as into a bitmap of its own, and presenting it is one GDI copy.
bool CreateBackBuffer() {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = app.clientWidth;
    info.bmiHeader.biHeight = -app.clientHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    app.backBufferPixels = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    if (!app.backBufferPixels) return false;
    app.backBuffer.reset(new Gdiplus::Bitmap(app.clientWidth, app.clientHeight, app.clientWidth * 4,
                                             PixelFormat32bppARGB, static_cast<BYTE*>(pixels)));
    return app.backBuffer->GetLastStatus() == Gdiplus::Ok;
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
int EdgeMargin(const Placement& rect) {
    return 2 + std::max(rect.width / std::max(app.imageWidth, 1),
                        rect.height / std::max(app.imageHeight, 1));
}

// The clear is skipped where an opaque picture covers the whole client area anyway.
bool PictureHidesBackground(const Placement& rect) {
    if (!app.image || !IsOpaqueFormat(app.image->GetPixelFormat())) return false;
    const long long margin = EdgeMargin(rect);
    return rect.x <= -margin && rect.y <= -margin &&
           rect.x + static_cast<long long>(rect.width) >= app.clientWidth + margin &&
           rect.y + static_cast<long long>(rect.height) >= app.clientHeight + margin;
}

// A picture scaled by a power of two from 1/16 to 16: client pixels = picture pixels * up / down.
struct Scale {
    int up;
    int down;
};

// At such a scale every picture pixel lands on whole client pixels, and GDI+ gives it the same
// colour wherever the picture lies; other scales sample at places that depend on the position.
bool FindPowerOfTwoScale(const Placement& rect, Scale* scale) {
    const long long width = app.imageWidth, height = app.imageHeight;
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
void DrawPicture(Graphics& graphics, const Placement& rect, const Region& region) {
    Scale scale;
    if (!FindPowerOfTwoScale(rect, &scale)) {
        graphics.DrawImage(app.image.get(), rect.x - region.x, rect.y - region.y, rect.width,
                           rect.height);
        return;
    }
    const Span columns =
        SourceSpan(static_cast<long long>(region.x) - rect.x, region.width, scale, app.imageWidth);
    const Span rows = SourceSpan(static_cast<long long>(region.y) - rect.y, region.height, scale,
                                 app.imageHeight);
    if (columns.size == 0 || rows.size == 0) return;
    const Gdiplus::Rect target(rect.x - region.x + columns.start / scale.down * scale.up,
                               rect.y - region.y + rows.start / scale.down * scale.up,
                               columns.size / scale.down * scale.up,
                               rows.size / scale.down * scale.up);
    graphics.DrawImage(app.image.get(), target, columns.start, rows.start, columns.size, rows.size,
                       Gdiplus::UnitPixel);
}

BYTE* BackBufferBits() {
    DIBSECTION section = {};
    GetObjectW(app.backBufferPixels, sizeof section, &section);
    return static_cast<BYTE*>(section.dsBm.bmBits);
}

// The background, then the picture, in one region of the back buffer.
void ComposeRegion(const Placement& rect, const Region& region) {
    const int stride = app.clientWidth * 4;
    Gdiplus::Bitmap part(region.width, region.height, stride, PixelFormat32bppARGB,
                         BackBufferBits() + region.y * stride + region.x * 4);
    Graphics graphics(&part);
    graphics.SetInterpolationMode(app.smoothScaling ? Gdiplus::InterpolationModeHighQualityBilinear
                                                    : Gdiplus::InterpolationModeNearestNeighbor);
    if (!PictureHidesBackground(rect)) {
        graphics.Clear(Gdiplus::Color(ToOpaqueArgb(ResolveBackgroundColor(app))));
    }
    if (app.image) DrawPicture(graphics, rect, region);
}

void RedrawBackBuffer(const Placement& rect) {
    ReleaseBackBuffer();
    if (app.clientWidth <= 0 || app.clientHeight <= 0) return;
    if (!CreateBackBuffer()) {
        ReleaseBackBuffer();
        return;
    }
    ComposeRegion(rect, {0, 0, app.clientWidth, app.clientHeight});
}

// Moves the back buffer's pixels by dx, dy, rows in the order that never overwrites one still
// to be read.
void ScrollBackBuffer(int dx, int dy) {
    BYTE* bits = BackBufferBits();
    const int stride = app.clientWidth * 4;
    const size_t bytes = size_t(app.clientWidth - std::abs(dx)) * 4;
    for (int i = 0; i < app.clientHeight - std::abs(dy); ++i) {
        const int row = dy > 0 ? app.clientHeight - 1 - i : i;
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
bool MoveBackBuffer(const Composition& next, const Placement& rect) {
    if (!app.backBuffer || static_cast<int>(app.backBuffer->GetWidth()) != app.clientWidth ||
        static_cast<int>(app.backBuffer->GetHeight()) != app.clientHeight ||
        !SameExceptPlace(next, app.composed)) {
        return false;
    }
    const long long dx = static_cast<long long>(next.x) - app.composed.x;
    const long long dy = static_cast<long long>(next.y) - app.composed.y;
    if (dx == 0 && dy == 0) return true;
    Scale scale;
    if (!app.image || !FindPowerOfTwoScale(rect, &scale) || std::llabs(dx) >= app.clientWidth ||
        std::llabs(dy) >= app.clientHeight) {
        return false;
    }
    const int moveX = static_cast<int>(dx), moveY = static_cast<int>(dy);
    ScrollBackBuffer(moveX, moveY);
    const int width = app.clientWidth, height = app.clientHeight;
    if (moveX > 0) ComposeRegion(rect, {0, 0, moveX, height});
    if (moveX < 0) ComposeRegion(rect, {width + moveX, 0, -moveX, height});
    if (moveY > 0) ComposeRegion(rect, {0, 0, width, moveY});
    if (moveY < 0) ComposeRegion(rect, {0, height + moveY, width, -moveY});
    return true;
}

}  // namespace

void ComposeBackBuffer() {
    const Placement rect = ComputePlacement(app);
    const Composition next = {app.image.get(),
                              app.imageLoads,
                              app.currentFrame,
                              rect.x,
                              rect.y,
                              rect.width,
                              rect.height,
                              app.smoothScaling,
                              ToOpaqueArgb(ResolveBackgroundColor(app))};
    if (!MoveBackBuffer(next, rect)) RedrawBackBuffer(rect);
    app.composed = next;
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
    ComposeBackBuffer();
    Present();
}

HICON MakeImageIcon(int size) {
    Gdiplus::Bitmap bitmap(size, size, PixelFormat32bppARGB);
    HICON icon = nullptr;
    if (bitmap.GetLastStatus() != Gdiplus::Ok) return icon;
    {
        Graphics graphics(&bitmap);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeLowQuality);
        if (app.image) graphics.DrawImage(app.image.get(), 0, 0, size, size);
    }
    bitmap.GetHICON(&icon);
    return icon;
}

// The new icons are installed before the old ones are destroyed, so the window never
// holds a destroyed icon.
void RefreshWindowIcons() {
    const HICON oldSmall = app.smallIcon;
    const HICON oldBig = app.bigIcon;
    app.smallIcon = MakeImageIcon(16);
    app.bigIcon = MakeImageIcon(32);
    SendMessageW(app.window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(app.smallIcon));
    SendMessageW(app.window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(app.bigIcon));
    if (oldSmall) DestroyIcon(oldSmall);
    if (oldBig) DestroyIcon(oldBig);
}
