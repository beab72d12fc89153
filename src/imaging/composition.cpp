#include "imaging/composition.h"

#include "core/app_state.h"
#include "core/geometry.h"

using Gdiplus::Graphics;

void ComposeBackBuffer() {
    const Placement rect = ComputePlacement(app);
    app.backBuffer.reset();
    if (app.clientWidth <= 0 || app.clientHeight <= 0) return;

    app.backBuffer.reset(
        new Gdiplus::Bitmap(app.clientWidth, app.clientHeight, PixelFormat32bppARGB));
    if (app.backBuffer->GetLastStatus() != Gdiplus::Ok) {
        app.backBuffer.reset();
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
    if (app.backBuffer && app.windowDc) {
        Graphics graphics(app.windowDc);
        graphics.DrawImage(app.backBuffer.get(), 0, 0);
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
