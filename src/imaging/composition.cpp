#include "imaging/composition.h"

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
    graphics.Clear(Gdiplus::Color(ToOpaqueArgb(ResolveBackgroundColor(app))));
    if (app.image) graphics.DrawImage(app.image.get(), rect.x, rect.y, rect.width, rect.height);
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
