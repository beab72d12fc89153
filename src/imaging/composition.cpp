#include "imaging/composition.h"

#include <algorithm>

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

// Pixel formats without transparency: a picture in one of them hides what is under it.
bool IsOpaqueFormat(Gdiplus::PixelFormat format) {
    switch (format) {
        case PixelFormat16bppGrayScale:
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

int ClampToImage(long long value, int size) {
    return static_cast<int>(std::clamp<long long>(value, 0, size));
}

// Unscaled, only the part on the client and a margin is drawn: the same pixels, without
// visiting the rest of a large picture.
void DrawPicture(Graphics& graphics, const Placement& rect) {
    if (rect.width != app.imageWidth || rect.height != app.imageHeight) {
        graphics.DrawImage(app.image.get(), rect.x, rect.y, rect.width, rect.height);
        return;
    }
    const long long margin = EdgeMargin(rect);
    const int left = ClampToImage(-margin - rect.x, app.imageWidth);
    const int top = ClampToImage(-margin - rect.y, app.imageHeight);
    const int right = ClampToImage(app.clientWidth + margin - rect.x, app.imageWidth);
    const int bottom = ClampToImage(app.clientHeight + margin - rect.y, app.imageHeight);
    if (right <= left || bottom <= top) return;
    const Gdiplus::Rect visible(rect.x + left, rect.y + top, right - left, bottom - top);
    graphics.DrawImage(app.image.get(), visible, left, top, visible.Width, visible.Height,
                       Gdiplus::UnitPixel);
}

}  // namespace

void ComposeBackBuffer() {
    const Placement rect = ComputePlacement(app);
    ReleaseBackBuffer();
    if (app.clientWidth <= 0 || app.clientHeight <= 0) return;
    if (!CreateBackBuffer()) {
        ReleaseBackBuffer();
        return;
    }
    Graphics graphics(app.backBuffer.get());
    graphics.SetInterpolationMode(app.smoothScaling ? Gdiplus::InterpolationModeHighQualityBilinear
                                                    : Gdiplus::InterpolationModeNearestNeighbor);
    if (!PictureHidesBackground(rect)) {
        graphics.Clear(Gdiplus::Color(ToOpaqueArgb(ResolveBackgroundColor(app))));
    }
    if (app.image) DrawPicture(graphics, rect);
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
