#include "imaging/image_loading.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "imaging/codecs.h"
#include "imaging/exif_orientation.h"
#include "imaging/file_stream.h"
#include "imaging/memory_limits.h"

namespace {

void ReadFrameDimension(AppState& state) {
    Gdiplus::Image& image = *state.image;
    state.frameDimension = {};
    const UINT count = image.GetFrameDimensionsCount();
    if (count == 0) return;
    std::vector<GUID> dimensions(count);
    if (image.GetFrameDimensionsList(dimensions.data(), count) == Gdiplus::Ok) {
        state.frameDimension = dimensions[0];
    }
}

// The value of the picture's property item id if it has one of the given type, else nothing.
std::vector<BYTE> ReadPropertyValue(Gdiplus::Image& image, PROPID id, WORD type) {
    const UINT size = image.GetPropertyItemSize(id);
    if (size < sizeof(Gdiplus::PropertyItem)) return {};
    std::vector<BYTE> buffer(size);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (image.GetPropertyItem(id, size, item) != Gdiplus::Ok || item->type != type) return {};
    const BYTE* values = static_cast<const BYTE*>(item->value);
    const BYTE* end = buffer.data() + size;
    if (values < buffer.data() || values > end || item->length > size_t(end - values)) return {};
    return std::vector<BYTE>(values, values + item->length);
}

// Fills one delay per frame; frames beyond what the delay item holds keep the default.
void ReadFrameDelays(AppState& state) {
    state.frameDelaysMs.assign(state.frameCount, kMissingDelayMs);
    const std::vector<BYTE> values =
        ReadPropertyValue(*state.image, PropertyTagFrameDelay, PropertyTagTypeLong);
    const size_t count = std::min<size_t>(values.size() / sizeof(INT32), state.frameCount);
    for (size_t i = 0; i < count; ++i) {
        INT32 hundredths;
        std::memcpy(&hundredths, values.data() + i * sizeof(INT32), sizeof(INT32));
        state.frameDelaysMs[i] = DelayToMilliseconds(hundredths);
    }
}

// The orientation the platform reports (for TIFF; for JPEG too on Windows), else the one the
// JPEG's own Exif block records, which Wine's decoders do not report: 1 to 8, or 0.
int RecordedOrientation(Gdiplus::Image& image, int exifOrientation) {
    const std::vector<BYTE> value =
        ReadPropertyValue(image, PropertyTagOrientation, PropertyTagTypeShort);
    if (value.size() < sizeof(WORD)) return exifOrientation;
    WORD orientation;
    std::memcpy(&orientation, value.data(), sizeof orientation);
    return orientation <= 8 ? orientation : 0;
}

// What shows the picture upright for each orientation from 0 (none recorded) to 8: a turn, then
// a mirror left to right. No type asks for both at once: Wine mirrors those before it turns, the
// documentation turns first, and orientations 5 and 7 would swap on one platform or the other.
struct UprightTurn {
    Gdiplus::RotateFlipType turn;
    bool mirror;
};
constexpr UprightTurn kUprightTurns[] = {
    {Gdiplus::RotateNoneFlipNone, false}, {Gdiplus::RotateNoneFlipNone, false},
    {Gdiplus::RotateNoneFlipX, false},    {Gdiplus::Rotate180FlipNone, false},
    {Gdiplus::RotateNoneFlipY, false},    {Gdiplus::Rotate90FlipNone, true},
    {Gdiplus::Rotate90FlipNone, false},   {Gdiplus::Rotate270FlipNone, true},
    {Gdiplus::Rotate270FlipNone, false}};

// Wine's decoders size an indexed BMP's pixel array in 32 bits, in either build: one declaring
// more (65536 x 65536 at 8 bits, say) wraps to a small buffer that decoding then runs off,
// crashing the process. Such a picture is refused before GDI+ reads it.
bool DeclaresOversizedBitmap(const BYTE* header, DWORD size) {
    if (size < 30 || header[0] != 'B' || header[1] != 'M') return false;
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

LoadResult AsLoadResult(ReadResult read) {
    if (read == ReadResult::kRead) return LoadResult::kLoaded;
    return read == ReadResult::kNotNow ? LoadResult::kNotNow : LoadResult::kNotAPicture;
}

// The picture decoded in state: frames, delays, turned upright.
void ReadPicture(AppState& state, const FileStream* file) {
    ReadFrameDimension(state);
    // A failed count query yields 0; one frame keeps the frame index meaningful.
    state.frameCount = ClampToInt(std::max(1u, state.image->GetFrameCount(&state.frameDimension)));
    if (state.frameCount >= 2) ReadFrameDelays(state);
    // Turned once, before anything measures it. Turning a picture of several frames would turn
    // only the frame on show, so those show as decoded.
    if (state.frameCount == 1) {
        TurnUpright(*state.image,
                    RecordedOrientation(*state.image,
                                        ReadExifOrientation(FileBytes(file), FileSize(file))));
    }
}

// GDI+ reads the header (and on Windows nothing more until the picture is drawn or turned) before
// the size is held to the limit; only a picture within it is read whole. What GDI+ refuses, the
// system's codecs may take. Colour profiles are applied where the platform can.
LoadResult DecodeStream(AppState& state, FileStream* file, long long pixelLimit) {
    IStream* const stream = AsStream(file);
    BYTE header[30];
    ULONG headerSize = 0;
    stream->Read(header, sizeof header, &headerSize);
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    if (ReadFailed(file)) return LoadResult::kNotNow;
    if (DeclaresOversizedBitmap(header, headerSize)) return LoadResult::kNotAPicture;
    state.image.reset(new Gdiplus::Image(stream, TRUE));
    if (state.image->GetLastStatus() != Gdiplus::Ok) {
        state.image.reset();
        if (ReadFailed(file)) return LoadResult::kNotNow;
        return DecodeWithCodecs(state, file, pixelLimit);
    }
    const long long pixels =
        static_cast<long long>(state.image->GetWidth()) * state.image->GetHeight();
    if (pixels > pixelLimit) return LoadResult::kOverLimit;
    const LoadResult kept = AsLoadResult(KeepFileInMemory(file));
    if (kept == LoadResult::kLoaded) ReadPicture(state, file);
    return kept;
}

}  // namespace

void SelectFrame(AppState& state, int index) {
    if (state.codec) {
        SelectCodecFrame(state, index);
    } else {
        state.image->SelectActiveFrame(&state.frameDimension, index);
    }
}

void TurnUpright(Gdiplus::Image& image, int orientation) {
    if (orientation >= 2) image.RotateFlip(kUprightTurns[orientation].turn);
    if (kUprightTurns[orientation].mirror) image.RotateFlip(Gdiplus::RotateNoneFlipX);
}

int DelayToMilliseconds(long hundredths) {
    const long long ms = static_cast<long long>(hundredths) * 10;
    return static_cast<int>(std::clamp<long long>(ms, INT_MIN, INT_MAX));
}

LoadResult LoadImageFile(AppState& state, const wchar_t* path, long long pixelLimit) {
    ++state.imageLoads;
    state.image.reset();
    state.codec.reset();
    state.frameCount = 1;
    state.frameDelaysMs = {};
    if (std::wcslen(path) >= MAX_PATH) return LoadResult::kNotAPicture;
    ReadResult opened;
    FileStream* const file = OpenFileStream(path, opened);
    if (!file) return AsLoadResult(opened);
    const LoadResult result =
        DecodeStream(state, file, std::min(pixelLimit, LargestPicturePixels()));
    if (result == LoadResult::kLoaded) {
        std::wcscpy(state.currentPath, path);
        state.imageWidth = ClampToInt(state.image->GetWidth());
        state.imageHeight = ClampToInt(state.image->GetHeight());
    } else {
        state.image.reset();
        state.codec.reset();
    }
    // The picture holds the stream for as long as it lives.
    AsStream(file)->Release();
    return result;
}
