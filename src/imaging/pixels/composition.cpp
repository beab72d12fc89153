#include "imaging/pixels/composition.h"

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

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
bool SizeBackBuffer(Shown& shown, const View& view) {
    BackBuffer& buffer = shown.backBuffer;
    if (buffer.bitmap && buffer.width == view.clientWidth && buffer.height == view.clientHeight) {
        return true;
    }
    ReleaseBackBuffer(shown);
    if (view.clientWidth <= 0 || view.clientHeight <= 0) return false;
    buffer.bitmap = CreatePixelSection(view.clientWidth, view.clientHeight, &buffer.bits);
    if (!buffer.bitmap) return false;
    buffer.width = view.clientWidth;
    buffer.height = view.clientHeight;
    return true;
}

void FillRegion(BackBuffer& buffer, uint32_t colour, const Region& region) {
    for (int y = region.y; y < region.y + region.height; ++y) {
        uint32_t* row = buffer.bits + size_t(y) * buffer.width + region.x;
        std::fill(row, row + region.width, colour);
    }
}

// A metafile has no pixels of its own: GDI+ draws it at the size of the view.
bool DrawMetafile(Shown& shown, bool smooth, const Placement& rect, uint32_t background,
                  const Region& region) {
    BackBuffer& buffer = shown.backBuffer;
    Gdiplus::Bitmap part(
        region.width, region.height, buffer.width * 4, PixelFormat32bppARGB,
        reinterpret_cast<BYTE*>(buffer.bits + size_t(region.y) * buffer.width + region.x));
    Gdiplus::Graphics graphics(&part);
    graphics.SetInterpolationMode(smooth ? Gdiplus::InterpolationModeHighQualityBilinear
                                         : Gdiplus::InterpolationModeNearestNeighbor);
    graphics.Clear(Gdiplus::Color(background));
    return graphics.DrawImage(shown.picture.image.get(), rect.x - region.x, rect.y - region.y,
                              rect.width, rect.height) == Gdiplus::Ok;
}

// The background, then the picture, in one region of the back buffer. False when the picture
// could not be drawn there, for want of memory.
bool RenderRegion(Shown& shown, const Composition& next, const Region& region) {
    const Placement rect = {next.x, next.y, next.width, next.height};
    BackBuffer& buffer = shown.backBuffer;
    if (HasPixels(shown.picture)) {
        return ScaleRegion(shown.picture.levels, rect, next.smooth, next.background, buffer.bits,
                           buffer.width, region);
    }
    if (IsMetafile(shown.picture)) {
        return DrawMetafile(shown, next.smooth, rect, next.background, region);
    }
    FillRegion(buffer, next.background, region);
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
bool MoveBackBuffer(Shown& shown, const Composition& next, const View& view) {
    BackBuffer& buffer = shown.backBuffer;
    if (!buffer.bitmap || buffer.width != view.clientWidth || buffer.height != view.clientHeight ||
        !SameExceptPlace(next, shown.composed) || !HasPixels(shown.picture)) {
        return false;
    }
    const long long dx = static_cast<long long>(next.x) - shown.composed.x;
    const long long dy = static_cast<long long>(next.y) - shown.composed.y;
    if (dx == 0 && dy == 0) return true;
    if (std::llabs(dx) >= buffer.width || std::llabs(dy) >= buffer.height) return false;
    const int moveX = static_cast<int>(dx), moveY = static_cast<int>(dy);
    const int width = buffer.width, height = buffer.height;
    ScrollBackBuffer(buffer, moveX, moveY);
    const Region uncovered[] = {{moveX > 0 ? 0 : width + moveX, 0, std::abs(moveX), height},
                                {0, moveY > 0 ? 0 : height + moveY, width, std::abs(moveY)}};
    bool rendered = true;
    for (const Region& strip : uncovered) rendered = RenderRegion(shown, next, strip) && rendered;
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

void ReleaseBackBuffer(Shown& shown) {
    if (shown.backBuffer.bitmap) DeleteObject(shown.backBuffer.bitmap);
    shown.backBuffer = {};
}

// A view that could not be rendered is recorded as none (generation 0 names no pixels), so that
// the next composition renders it whole.
void ComposeBackBuffer(Shown& shown, const View& view) {
    const Placement rect = ComputePlacement(view, shown.picture);
    const Composition next = {shown.picture.generation,
                              rect.x,
                              rect.y,
                              rect.width,
                              rect.height,
                              view.smoothScaling,
                              ToOpaqueArgb(ResolveBackgroundColor(view))};
    bool rendered = MoveBackBuffer(shown, next, view);
    if (!rendered && SizeBackBuffer(shown, view)) {
        rendered =
            RenderRegion(shown, next, {0, 0, shown.backBuffer.width, shown.backBuffer.height});
    }
    shown.composed = rendered ? next : Composition{};
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
