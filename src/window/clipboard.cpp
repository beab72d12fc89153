#include "window/clipboard.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <utility>
#include <vector>

#include "core/app_state.h"

namespace {

// GDI+'s PNG encoder; the same on every system.
constexpr CLSID kPngEncoder = {
    0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};

// Movable global memory holding head, then body (or room for it, when there is none); null when
// memory is short.
HGLOBAL GlobalCopy(const void* head, size_t headSize, const void* body, size_t bodySize) {
    if (bodySize > SIZE_MAX - headSize) return nullptr;
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, headSize + bodySize);
    BYTE* bytes = memory ? static_cast<BYTE*>(GlobalLock(memory)) : nullptr;
    if (!bytes) return memory;
    std::memcpy(bytes, head, headSize);
    if (body) std::memcpy(bytes + headSize, body, bodySize);
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

// The frame on show, straight alpha, into width x height pixels that lie bottom row first, as
// device-independent bitmaps do.
void WriteFrame(BYTE* bottomRow, int width, int height) {
    const Picture& picture = app.onShow.picture;
    if (HasPixels(picture)) {
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(bottomRow - ptrdiff_t(y) * width * 4);
            std::copy_n(picture.levels[0].bits.get() + size_t(y) * width, width, row);
            Unpremultiply(row, size_t(width));
        }
        return;
    }
    // A metafile is drawn by copying, not blending, so that its alpha stays; the memory, not
    // zeroed, is cleared first, as the draw writes only what the metafile paints.
    Gdiplus::Bitmap frame(width, height, -width * 4, PixelFormat32bppARGB, bottomRow);
    Gdiplus::Graphics graphics(&frame);
    graphics.Clear(Gdiplus::Color(0, 0, 0, 0));
    graphics.SetCompositingMode(Gdiplus::CompositingModeSourceCopy);
    graphics.DrawImage(picture.image.get(), 0, 0, width, height);
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

// One block holds the version-5 bitmap, the frame's own size in its header; the system makes the
// plain bitmap from it for programs that know no other format, and PNG is encoded from its pixels.
void CopyPictureToClipboard() {
    const Picture& picture = app.onShow.picture;
    if (!HasPicture(picture) || app.onShow.preview) return;  // a preview is not the picture
    const int width = HasPixels(picture) ? picture.levels[0].width : picture.imageWidth;
    const int height = HasPixels(picture) ? picture.levels[0].height : picture.imageHeight;
    if (width <= 0 || height <= 0 || width > INT_MAX / 4 ||
        size_t(width) > SIZE_MAX / 4 / size_t(height)) {
        return;
    }
    const size_t bytes = size_t(width) * height * 4;
    BITMAPV5HEADER v5 = {};
    v5.bV5Size = sizeof v5;
    v5.bV5Width = width;
    v5.bV5Height = height;
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
    const HGLOBAL dib = GlobalCopy(&v5, sizeof v5, nullptr, bytes);
    BYTE* block = dib ? static_cast<BYTE*>(GlobalLock(dib)) : nullptr;
    if (!block) {
        if (dib) GlobalFree(dib);
        return;
    }
    BYTE* const bottomRow = block + sizeof v5 + (bytes - size_t(width) * 4);
    WriteFrame(bottomRow, width, height);
    Gdiplus::Bitmap pixels(width, height, -width * 4, PixelFormat32bppARGB, bottomRow);
    const HGLOBAL png = EncodePng(pixels);
    GlobalUnlock(dib);
    PutOnClipboard({{CF_DIBV5, dib}, {RegisterClipboardFormatW(L"PNG"), png}});
}

void CopyFileToClipboard() {
    // The path on show is a full one.
    wchar_t path[MAX_PATH + 1] = {};
    std::wcscpy(path, app.onShow.path);
    const size_t length = std::wcslen(path);
    // The list of files ends with an empty name.
    DROPFILES files = {sizeof files, {}, FALSE, TRUE};
    const DWORD copy = DROPEFFECT_COPY;
    PutOnClipboard(
        {{CF_HDROP, GlobalCopy(&files, sizeof files, path, (length + 2) * sizeof(wchar_t))},
         {RegisterClipboardFormatW(CFSTR_PREFERREDDROPEFFECT),
          GlobalCopy(&copy, sizeof copy, nullptr, 0)}});
}
