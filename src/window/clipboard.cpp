#include "window/clipboard.h"

#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "core/app_state.h"

namespace {

// GDI+'s PNG encoder; the same on every system.
constexpr CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

// Movable global memory holding head, then body, as the clipboard takes it; null when short.
HGLOBAL GlobalCopy(const void* head, size_t headSize, const void* body, size_t bodySize) {
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, headSize + bodySize);
    BYTE* bytes = memory ? static_cast<BYTE*>(GlobalLock(memory)) : nullptr;
    if (!bytes) return memory;
    std::memcpy(bytes, head, headSize);
    if (bodySize) std::memcpy(bytes + headSize, body, bodySize);
    GlobalUnlock(memory);
    return memory;
}

// The clipboard, owned by the window, holds these formats alone once it closes.
void PutOnClipboard(const std::vector<std::pair<UINT, HGLOBAL>>& formats) {
    if (!OpenClipboard(app.window)) {
        for (const auto& format : formats) GlobalFree(format.second);
        return;
    }
    EmptyClipboard();
    for (const auto& [format, memory] : formats) {
        if (memory && !SetClipboardData(format, memory)) GlobalFree(memory);
    }
    CloseClipboard();
}

// A metafile's frame at full size, drawn by copying, not blending, so that its alpha stays.
std::unique_ptr<Gdiplus::Bitmap> DrawFrame() {
    auto frame =
        std::make_unique<Gdiplus::Bitmap>(app.imageWidth, app.imageHeight, PixelFormat32bppARGB);
    if (frame->GetLastStatus() != Gdiplus::Ok) return nullptr;
    Gdiplus::Graphics graphics(frame.get());
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    graphics.DrawImage(app.image.get(), 0, 0, app.imageWidth, app.imageHeight);
    return frame;
}

// The frame on show as a bitmap: a bitmap picture itself, whose pixels are read as they are
// (drawing would round semi-transparent ones), or a metafile drawn.
Gdiplus::Bitmap* FrameBitmap(std::unique_ptr<Gdiplus::Bitmap>& drawn) {
    if (app.image->GetType() == Gdiplus::ImageTypeBitmap) {
        return static_cast<Gdiplus::Bitmap*>(app.image.get());
    }
    drawn = DrawFrame();
    return drawn.get();
}

// Bottom row first, as device-independent bitmaps lie: 0xAARRGGBB, alpha not premultiplied.
std::vector<DWORD> BottomUpPixels(Gdiplus::Bitmap& frame) {
    const UINT width = frame.GetWidth(), height = frame.GetHeight();
    std::vector<DWORD> pixels(size_t(width) * height);
    Gdiplus::Rect all(0, 0, int(width), int(height));
    Gdiplus::BitmapData data = {width,
                                height,
                                -int(width) * 4,
                                PixelFormat32bppARGB,
                                pixels.data() + size_t(width) * (height - 1),
                                0};
    frame.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                   PixelFormat32bppARGB, &data);
    frame.UnlockBits(&data);
    return pixels;
}

HGLOBAL EncodePng(Gdiplus::Bitmap& frame) {
    IStream* stream = nullptr;
    if (CreateStreamOnHGlobal(nullptr, FALSE, &stream) != S_OK) return nullptr;
    HGLOBAL memory = nullptr;
    GetHGlobalFromStream(stream, &memory);
    const bool saved = frame.Save(stream, &kPngEncoder, nullptr) == Gdiplus::Ok;
    stream->Release();
    if (saved) return memory;
    GlobalFree(memory);
    return nullptr;
}

}  // namespace

void CopyPictureToClipboard() {
    if (!app.image || app.imageWidth <= 0 || app.imageHeight <= 0) return;
    std::unique_ptr<Gdiplus::Bitmap> drawn;
    Gdiplus::Bitmap* const frame = FrameBitmap(drawn);
    if (!frame) return;
    const std::vector<DWORD> pixels = BottomUpPixels(*frame);
    const size_t bytes = pixels.size() * sizeof(DWORD);
    BITMAPV5HEADER v5 = {};
    v5.bV5Size = sizeof v5;
    v5.bV5Width = app.imageWidth;
    v5.bV5Height = app.imageHeight;
    v5.bV5Planes = 1;
    v5.bV5BitCount = 32;
    v5.bV5Compression = BI_BITFIELDS;
    v5.bV5SizeImage = DWORD(bytes);
    v5.bV5RedMask = 0x00FF0000;
    v5.bV5GreenMask = 0x0000FF00;
    v5.bV5BlueMask = 0x000000FF;
    v5.bV5AlphaMask = 0xFF000000;
    v5.bV5CSType = 0x73524742;  // LCS_sRGB, spelt as a multi-character constant there
    v5.bV5Intent = LCS_GM_IMAGES;
    // The same pixels as a plain bitmap, for programs that know no other format.
    BITMAPINFOHEADER plain = {
        sizeof plain, app.imageWidth, app.imageHeight, 1, 32, BI_RGB, DWORD(bytes), 0, 0, 0, 0};
    PutOnClipboard({{CF_DIBV5, GlobalCopy(&v5, sizeof v5, pixels.data(), bytes)},
                    {CF_DIB, GlobalCopy(&plain, sizeof plain, pixels.data(), bytes)},
                    {RegisterClipboardFormatW(L"PNG"), EncodePng(*frame)}});
}

void CopyFileToClipboard() {
    wchar_t path[MAX_PATH + 1] = {};
    const DWORD length = GetFullPathNameW(app.currentPath, MAX_PATH, path, nullptr);
    if (length == 0 || length >= MAX_PATH) return;
    // The list of files ends with an empty name.
    DROPFILES files = {sizeof files, {}, FALSE, TRUE};
    const DWORD copy = DROPEFFECT_COPY;
    PutOnClipboard(
        {{CF_HDROP, GlobalCopy(&files, sizeof files, path, (length + 2) * sizeof(wchar_t))},
         {RegisterClipboardFormatW(CFSTR_PREFERREDDROPEFFECT),
          GlobalCopy(&copy, sizeof copy, nullptr, 0)}});
}
