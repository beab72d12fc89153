#include "imaging/image_loading.h"

#include <climits>
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
    app.frameDelaysMs = {};
    if (std::wcslen(path) >= MAX_PATH) return false;

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
