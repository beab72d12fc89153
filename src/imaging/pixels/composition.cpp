#include "imaging/pixels/composition.h"

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/geometry.h"
#include "imaging/pixels/scaler.h"

namespace {

// A 32-bit top-down DIB section; its pixels in bits.
HBITMAP CreatePixelSection(int width, int height, uint32_t** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    const HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    *bits = static_cast<uint32_t*>(pixels);
    return section;
}

// A back buffer of the client's size: the one there is, or a new one.
bool SizeBackBuffer(AppState& state) {
    BackBuffer& buffer = state.backBuffer;
    if (buffer.bitmap && buffer.width == state.view.clientWidth &&
        buffer.height == state.view.clientHeight) {
        return true;
    }
    ReleaseBackBuffer(state);
    if (state.view.clientWidth <= 0 || state.view.clientHeight <= 0) return false;
    buffer.bitmap =
        CreatePixelSection(state.view.clientWidth, state.view.clientHeight, &buffer.bits);
    if (!buffer.bitmap) return false;
    buffer.width = state.view.clientWidth;
    buffer.height = state.view.clientHeight;
    return true;
}

void FillRegion(BackBuffer& buffer, uint32_t colour, const Region& region) {
    for (int y = region.y; y < region.y + region.height; ++y) {
        uint32_t* row = buffer.bits + size_t(y) * buffer.width + region.x;
        std::fill(row, row + region.width, colour);
    }
}

// A metafile has no pixels of its own: GDI+ draws it at the size of the view.
bool DrawMetafile(AppState& state, const Placement& rect, uint32_t background,
                  const Region& region) {
    BackBuffer& buffer = state.backBuffer;
    Gdiplus::Bitmap part(
        region.width, region.height, buffer.width * 4, PixelFormat32bppARGB,
        reinterpret_cast<BYTE*>(buffer.bits + size_t(region.y) * buffer.width + region.x));
    Gdiplus::Graphics graphics(&part);
    graphics.SetInterpolationMode(state.view.smoothScaling
                                      ? Gdiplus::InterpolationModeHighQualityBilinear
                                      : Gdiplus::InterpolationModeNearestNeighbor);
    graphics.Clear(Gdiplus::Color(background));
    return graphics.DrawImage(state.picture.image.get(), rect.x - region.x, rect.y - region.y,
                              rect.width, rect.height) == Gdiplus::Ok;
}

// The background, then the picture, in one region of the back buffer. False when the picture
// could not be drawn there, for want of memory.
bool RenderRegion(AppState& state, const Placement& rect, const Region& region) {
    const uint32_t background = ToOpaqueArgb(ResolveBackgroundColor(state));
    BackBuffer& buffer = state.backBuffer;
    if (HasPixels(state.picture)) {
        return ScaleRegion(state.picture.levels, rect, state.view.smoothScaling, background,
                           buffer.bits, buffer.width, region);
    }
    if (IsMetafile(state.picture)) return DrawMetafile(state, rect, background, region);
    FillRegion(buffer, background, region);
    return true;
}

// Moves the back buffer's pixels by dx, dy, rows in the order that never overwrites one still
// to be read.
void ScrollBackBuffer(BackBuffer& buffer, int dx, int dy) {
    const size_t bytes = size_t(buffer.width - std::abs(dx)) * 4;
    for (int i = 0; i < buffer.height - std::abs(dy); ++i) {
        const int row = dy > 0 ? buffer.height - 1 - i : i;
        std::memmove(buffer.bits + size_t(row) * buffer.width + std::max(dx, 0),
                     buffer.bits + size_t(row - dy) * buffer.width + std::max(-dx, 0), bytes);
    }
}

bool SameExceptPlace(const Composition& a, const Composition& b) {
    return a.generation == b.generation && a.width == b.width && a.height == b.height &&
           a.smooth == b.smooth && a.background == b.background;
}

// When only the picture's place changed, the pixels on show move with it and only the strips
// uncovered are rendered: every pixel's colour depends only on where it lies in the picture.
// False when that is not so, or a strip could not be rendered.
bool MoveBackBuffer(AppState& state, const Composition& next, const Placement& rect) {
    BackBuffer& buffer = state.backBuffer;
    if (!buffer.bitmap || buffer.width != state.view.clientWidth ||
        buffer.height != state.view.clientHeight || !SameExceptPlace(next, state.composed) ||
        !HasPixels(state.picture)) {
        return false;
    }
    const long long dx = static_cast<long long>(next.x) - state.composed.x;
    const long long dy = static_cast<long long>(next.y) - state.composed.y;
    if (dx == 0 && dy == 0) return true;
    if (std::llabs(dx) >= buffer.width || std::llabs(dy) >= buffer.height) return false;
    const int moveX = static_cast<int>(dx), moveY = static_cast<int>(dy);
    const int width = buffer.width, height = buffer.height;
    ScrollBackBuffer(buffer, moveX, moveY);
    const Region uncovered[] = {{moveX > 0 ? 0 : width + moveX, 0, std::abs(moveX), height},
                                {0, moveY > 0 ? 0 : height + moveY, width, std::abs(moveY)}};
    bool rendered = true;
    for (const Region& strip : uncovered) rendered = RenderRegion(state, rect, strip) && rendered;
    return rendered;
}

// The picture squeezed into the square of pixels, straight alpha.
void DrawIcon(const Picture& picture, uint32_t* bits, int size) {
    if (HasPixels(picture)) {
        ScaleRegion(picture.levels, {0, 0, size, size}, true, 0, bits, size, {0, 0, size, size});
        Unpremultiply(bits, size_t(size) * size);  // icons take straight alpha
    } else if (IsMetafile(picture)) {
        Gdiplus::Bitmap bitmap(size, size, size * 4, PixelFormat32bppARGB,
                               reinterpret_cast<BYTE*>(bits));
        Gdiplus::Graphics graphics(&bitmap);
        graphics.SetInterpolationMode(Gdiplus::InterpolationModeLowQuality);
        graphics.DrawImage(picture.image.get(), 0, 0, size, size);
    }
}

// An icon's AND mask: a bit set where the square of pixels is fully transparent.
HBITMAP CreateTransparencyMask(const uint32_t* bits, int size) {
    const int rowBytes = (size + 15) / 16 * 2;  // a bitmap's rows are whole 16-bit words
    std::vector<BYTE> mask(size_t(rowBytes) * size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            if (bits[size_t(y) * size + x] >> 24 == 0) mask[y * rowBytes + x / 8] |= 0x80 >> x % 8;
        }
    }
    return CreateBitmap(size, size, 1, 1, mask.data());
}

}  // namespace

void ReleaseBackBuffer(AppState& state) {
    if (state.backBuffer.bitmap) DeleteObject(state.backBuffer.bitmap);
    state.backBuffer = {};
}

void AdoptBackBuffer(AppState& to, AppState& from) {
    std::swap(to.backBuffer, from.backBuffer);
    std::swap(to.composed, from.composed);
}

// A view that could not be rendered is recorded as none (generation 0 names no pixels), so that
// the next composition renders it whole.
void ComposeBackBuffer(AppState& state) {
    const Placement rect = ComputePlacement(state);
    const Composition next = {state.picture.generation,
                              rect.x,
                              rect.y,
                              rect.width,
                              rect.height,
                              state.view.smoothScaling,
                              ToOpaqueArgb(ResolveBackgroundColor(state))};
    bool rendered = MoveBackBuffer(state, next, rect);
    if (!rendered && SizeBackBuffer(state)) {
        rendered =
            RenderRegion(state, rect, {0, 0, state.backBuffer.width, state.backBuffer.height});
    }
    state.composed = rendered ? next : Composition{};
}

void Present() {
    PAINTSTRUCT paint;
    BeginPaint(app.window, &paint);
    // The persistent DC is never clipped to the update region, so the copy covers everything.
    if (app.backBuffer.bitmap && app.windowDc) {
        const HDC source = CreateCompatibleDC(app.windowDc);
        const HGDIOBJ old = SelectObject(source, app.backBuffer.bitmap);
        BitBlt(app.windowDc, 0, 0, app.backBuffer.width, app.backBuffer.height, source, 0, 0,
               SRCCOPY);
        SelectObject(source, old);
        DeleteDC(source);
    }
    EndPaint(app.window, &paint);
}

// A preview is not the picture: the view changes, and shows when the picture comes. Where the
// picture was let go, its view stays on screen until the next one comes.
void Refresh() {
    if (app.showsPreview || !HasPicture(app.picture)) return;
    ComposeBackBuffer(app);
    Present();
}

// The colour bitmap carries the alpha; the mask says the same for what draws icons through it,
// and for the system, which ignores an alpha that is 0 everywhere.
HICON MakeImageIcon(const Picture& picture, int size) {
    uint32_t* bits = nullptr;
    const HBITMAP colour = CreatePixelSection(size, size, &bits);
    if (!colour) return nullptr;
    DrawIcon(picture, bits, size);
    const HBITMAP mask = CreateTransparencyMask(bits, size);
    ICONINFO info = {TRUE, 0, 0, mask, colour};
    const HICON icon = mask ? CreateIconIndirect(&info) : nullptr;
    DeleteObject(colour);
    if (mask) DeleteObject(mask);
    return icon;
}

void RefreshWindowIcons() {
    InstallWindowIcons(MakeImageIcon(app.picture, 16), MakeImageIcon(app.picture, 32));
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
