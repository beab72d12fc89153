#include "imaging/image_loading.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "core/app_state.h"

namespace {

// Frames whose delay the file does not give show this long.
constexpr int kMissingDelayMs = 100;

void ReadFrameDimension(Gdiplus::Image& image) {
    app.frameDimension = {};
    const UINT count = image.GetFrameDimensionsCount();
    if (count == 0) return;
    std::vector<GUID> dimensions(count);
    if (image.GetFrameDimensionsList(dimensions.data(), count) == Gdiplus::Ok) {
        app.frameDimension = dimensions[0];
    }
}

// Fills one delay per frame; frames beyond what the delay item holds keep the default.
void ReadFrameDelays(Gdiplus::Image& image) {
    app.frameDelaysMs.assign(app.frameCount, kMissingDelayMs);
    const UINT size = image.GetPropertyItemSize(PropertyTagFrameDelay);
    if (size < sizeof(Gdiplus::PropertyItem)) return;
    std::vector<BYTE> buffer(size);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (image.GetPropertyItem(PropertyTagFrameDelay, size, item) != Gdiplus::Ok) return;
    const BYTE* values = static_cast<const BYTE*>(item->value);
    const BYTE* end = buffer.data() + size;
    if (values < buffer.data() || values > end || item->length > size_t(end - values)) return;
    const size_t count = std::min<size_t>(item->length / sizeof(INT32), app.frameCount);
    for (size_t i = 0; i < count; ++i) {
        INT32 hundredths;
        std::memcpy(&hundredths, values + i * sizeof(INT32), sizeof(INT32));
        app.frameDelaysMs[i] = DelayToMilliseconds(hundredths);
    }
}

// Wine's decoders size an indexed BMP's pixel array in 32 bits: one declaring more (65536 x
// 65536 at 8 bits, say) wraps to a small buffer that decoding then runs off, crashing the
// process. No 32-bit process could hold such a picture, so it is refused before GDI+ reads it.
bool DeclaresOversizedBitmap(const wchar_t* path) {
    BYTE header[30];
    DWORD read = 0;
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = ReadFile(file, header, sizeof header, &read, nullptr);
    CloseHandle(file);
    if (!ok || read < sizeof header || header[0] != 'B' || header[1] != 'M') return false;
    DWORD infoSize;
    INT32 width, height;
    WORD bitCount;
    std::memcpy(&infoSize, header + 14, sizeof infoSize);
    std::memcpy(&width, header + 18, sizeof width);
    std::memcpy(&height, header + 22, sizeof height);
    std::memcpy(&bitCount, header + 28, sizeof bitCount);
    // The older core header's 16-bit sizes keep an indexed picture's array within 32 bits.
    if (infoSize < sizeof(BITMAPINFOHEADER)) return false;
    const unsigned long long rowBytes = (std::llabs(width) * bitCount + 31) / 32 * 4;
    const unsigned long long rows = std::llabs(height);
    return rows != 0 && rowBytes > UINT32_MAX / rows;
}

int ClampToInt(UINT value) {
    return static_cast<int>(std::min<UINT>(value, INT_MAX));
}

}  // namespace

int DelayToMilliseconds(long hundredths) {
    const long long ms = static_cast<long long>(hundredths) * 10;
    return static_cast<int>(std::clamp<long long>(ms, INT_MIN, INT_MAX));
}

bool LoadImageFile(const wchar_t* path) {
    ++app.imageLoads;
    app.image.reset();
    app.frameCount = 1;
    app.frameDelaysMs = {};
    if (std::wcslen(path) >= MAX_PATH || DeclaresOversizedBitmap(path)) return false;

    app.image.reset(new Gdiplus::Image(path));
    if (app.image->GetLastStatus() != Gdiplus::Ok) return false;

    std::wcscpy(app.currentPath, path);
    ReadFrameDimension(*app.image);
    // A failed count query yields 0; one frame keeps the frame index meaningful.
    app.frameCount = ClampToInt(std::max(1u, app.image->GetFrameCount(&app.frameDimension)));
    if (app.frameCount >= 2) ReadFrameDelays(*app.image);
    app.imageWidth = ClampToInt(app.image->GetWidth());
    app.imageHeight = ClampToInt(app.image->GetHeight());
    return true;
}
