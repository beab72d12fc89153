#include "imaging/decode/image_loading.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "imaging/decode/codecs.h"
#include "imaging/decode/exif.h"
#include "imaging/decode/file_stream.h"
#include "imaging/pixels/memory_limits.h"
#include "imaging/pixels/picture.h"
#include "imaging/decode/picture_size.h"

namespace {

void ReadFrameDimension(Picture& picture) {
    Gdiplus::Image& image = *picture.image;
    picture.frameDimension = {};
    const UINT count = image.GetFrameDimensionsCount();
    if (count == 0) return;
    std::vector<GUID> dimensions(count);
    if (image.GetFrameDimensionsList(dimensions.data(), count) == Gdiplus::Ok) {
        picture.frameDimension = dimensions[0];
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
void ReadFrameDelays(Picture& picture) {
    picture.frameDelaysMs.assign(picture.frameCount, kMissingDelayMs);
    const std::vector<BYTE> values =
        ReadPropertyValue(*picture.image, PropertyTagFrameDelay, PropertyTagTypeLong);
    const size_t count = std::min<size_t>(values.size() / sizeof(INT32), picture.frameCount);
    for (size_t i = 0; i < count; ++i) {
        INT32 hundredths;
        std::memcpy(&hundredths, values.data() + i * sizeof(INT32), sizeof(INT32));
        picture.frameDelaysMs[i] = DelayToMilliseconds(hundredths);
    }
}

// The orientation that a JPEG's own Exif block records, from the file's first bytes.
int ReadExifOrientation(FileStream* file) {
    std::vector<BYTE> header(kPreviewHeaderBytes);
    ULONG read = 0;
    AsStream(file)->Seek({}, STREAM_SEEK_SET, nullptr);
    AsStream(file)->Read(header.data(), ULONG(header.size()), &read);
    return ReadJpegHeader(header.data(), read).orientation;
}

// The orientation the platform reports (for TIFF; for JPEG too on Windows), else the one the
// JPEG's own Exif block records, which Wine's decoders do not report: 1 to 8, or 0.
int RecordedOrientation(Gdiplus::Image& image, FileStream* file) {
    const std::vector<BYTE> value =
        ReadPropertyValue(image, PropertyTagOrientation, PropertyTagTypeShort);
    if (value.size() < sizeof(WORD)) return ReadExifOrientation(file);
    WORD orientation;
    std::memcpy(&orientation, value.data(), sizeof orientation);
    return orientation <= 8 ? orientation : 0;
}

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

// A JPEG has one frame and no transparency: the codecs decode it at 24 bits, sooner than GDI+
// gives it.
bool StartsAsJpeg(const BYTE* header, DWORD size) {
    return size >= 3 && header[0] == 0xFF && header[1] == 0xD8 && header[2] == 0xFF;
}

int ClampToInt(UINT value) {
    return static_cast<int>(std::min<UINT>(value, INT_MAX));
}

LoadResult AsLoadResult(ReadResult read) {
    if (read == ReadResult::kRead) return LoadResult::kLoaded;
    return read == ReadResult::kNotNow ? LoadResult::kNotNow : LoadResult::kNotAPicture;
}

// Pixel formats without transparency, whose pixels are premultiplied as they are: GDI+ gives them
// as straight ARGB at a third of the cost of premultiplying.
bool IsOpaqueFormat(Gdiplus::PixelFormat format) {
    switch (format) {
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

// The active frame of a GDI+ bitmap into new pixels, premultiplied.
LoadResult CopyActiveFrame(Gdiplus::Image& image, Pixels& pixels) {
    const int width = ClampToInt(image.GetWidth()), height = ClampToInt(image.GetHeight());
    if (width <= 0 || height <= 0 || width > INT_MAX / 4) return LoadResult::kNotAPicture;
    pixels = AllocatePixels(width, height);
    if (!pixels.bits) return LoadResult::kNotNow;
    const Gdiplus::PixelFormat format =
        IsOpaqueFormat(image.GetPixelFormat()) ? PixelFormat32bppARGB : PixelFormat32bppPARGB;
    Gdiplus::Rect all(0, 0, width, height);
    Gdiplus::BitmapData data = {UINT(width), UINT(height), width * 4, format, pixels.bits.get(), 0};
    auto& bitmap = static_cast<Gdiplus::Bitmap&>(image);
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                        format, &data) != Gdiplus::Ok) {
        return LoadResult::kNotAPicture;
    }
    bitmap.UnlockBits(&data);
    return LoadResult::kLoaded;
}

// The active frame decoded takes the place of the frame on show only once it is whole, its
// reductions made.
LoadResult ShowActiveFrame(Picture& picture) {
    Pixels pixels;
    const LoadResult copied = CopyActiveFrame(*picture.image, pixels);
    if (copied != LoadResult::kLoaded) return copied;
    return ShowPixels(picture, std::move(pixels)) ? LoadResult::kLoaded : LoadResult::kNotNow;
}

// A picture of one frame is turned upright and keeps nothing of GDI+ but its pixels; one of
// several frames keeps its GDI+ image to decode the others, and shows as decoded: turning it
// would turn only the frame on show. A metafile has no pixels: GDI+ draws it. What keeps its GDI+
// image keeps the file in memory with it, so that other programs may move or delete the file.
LoadResult ReadPicture(Picture& picture, FileStream* file, const LoadGate* gate) {
    ReadFrameDimension(picture);
    // A failed count query yields 0; one frame keeps the frame index meaningful.
    picture.frameCount =
        ClampToInt(std::max(1u, picture.image->GetFrameCount(&picture.frameDimension)));
    if (picture.frameCount >= 2 || IsMetafile(picture)) {
        const LoadResult kept = AsLoadResult(KeepFileInMemory(file));
        if (kept != LoadResult::kLoaded) return kept;
    }
    if (picture.frameCount >= 2) ReadFrameDelays(picture);
    if (IsMetafile(picture)) return LoadResult::kLoaded;
    if (!StillWanted(gate)) return LoadResult::kNotNow;
    if (picture.frameCount >= 2) return ShowActiveFrame(picture);
    Pixels pixels;
    const LoadResult copied = CopyActiveFrame(*picture.image, pixels);
    if (copied != LoadResult::kLoaded) return copied;
    const int orientation = RecordedOrientation(*picture.image, file);
    // Pixels decoded around a failed read are not the file's, and a picture that nobody wants
    // any more is not worth finishing.
    if (ReadFailed(file) || !StillWanted(gate)) return LoadResult::kNotNow;
    picture.image.reset();
    return TurnUpright(pixels, orientation) && ShowPixels(picture, std::move(pixels))
               ? LoadResult::kLoaded
               : LoadResult::kNotNow;
}

// The size the header declares is held to the limit and the gate before any decode: under Wine,
// GDI+ and the codecs decode the whole file as they open it. GDI+'s own size is held to the limit
// too (on Windows it decodes nothing more until the pixels are asked for). A JPEG goes to the
// system's codecs first; what they refuse, GDI+ may take, and what GDI+ refuses, the codecs may
// take. Colour profiles are applied where the platform can.
LoadResult DecodeStream(Picture& picture, FileStream* file, long long pixelLimit,
                        const LoadGate* gate) {
    IStream* const stream = AsStream(file);
    BYTE header[30];
    ULONG headerSize = 0;
    stream->Read(header, sizeof header, &headerSize);
    stream->Seek({}, STREAM_SEEK_SET, nullptr);
    const long long declared = ReadDeclaredPixels(stream);
    if (ReadFailed(file)) return LoadResult::kNotNow;
    if (DeclaresOversizedBitmap(header, headerSize)) return LoadResult::kNotAPicture;
    if (declared > pixelLimit || (gate && !gate->mayDecode(declared))) {
        return LoadResult::kOverLimit;
    }
    if (StartsAsJpeg(header, headerSize)) {
        const LoadResult read =
            DecodeOpaqueWithCodecs(picture, file, pixelLimit, gate, ReadExifOrientation(file));
        // What that route refuses (a CMYK photo, say), GDI+ may still show.
        if (read != LoadResult::kNotAPicture) return read;
    }
    picture.image.reset(new Gdiplus::Image(stream, TRUE));
    if (picture.image->GetLastStatus() != Gdiplus::Ok) {
        picture.image.reset();
        if (ReadFailed(file)) return LoadResult::kNotNow;
        return DecodeWithCodecs(picture, file, pixelLimit, gate);
    }
    const long long pixels =
        static_cast<long long>(picture.image->GetWidth()) * picture.image->GetHeight();
    if (pixels > pixelLimit) return LoadResult::kOverLimit;
    // A picture decoded around a failed read is not the file's.
    if (ReadFailed(file)) return LoadResult::kNotNow;
    const LoadResult read = ReadPicture(picture, file, gate);
    if (read != LoadResult::kNotAPicture) return read;
    // Pixels that GDI+ will not give (Windows' has no conversion from 16-bit gray), the codecs
    // may.
    picture = {};
    return DecodeWithCodecs(picture, file, pixelLimit, gate);
}

// No picture, one frame, and the size and frame dimension of the one before.
void ReleasePicture(Picture& picture) {
    Picture none;
    none.imageWidth = picture.imageWidth;
    none.imageHeight = picture.imageHeight;
    none.frameDimension = picture.frameDimension;
    picture = std::move(none);
}

void MeasurePicture(Picture& picture) {
    if (HasPixels(picture)) {
        picture.imageWidth = picture.levels[0].width;
        picture.imageHeight = picture.levels[0].height;
    } else {
        picture.imageWidth = ClampToInt(picture.image->GetWidth());
        picture.imageHeight = ClampToInt(picture.image->GetHeight());
    }
}

}  // namespace

bool SelectFrame(Picture& picture, int index) {
    if (picture.file) return SelectCodecFrame(picture, index);
    return picture.image && !IsMetafile(picture) &&
           picture.image->SelectActiveFrame(&picture.frameDimension, index) == Gdiplus::Ok &&
           ShowActiveFrame(picture) == LoadResult::kLoaded;
}

LoadResult LoadImageFile(Picture& picture, const wchar_t* path, long long pixelLimit,
                         const LoadGate* gate) {
    ReleasePicture(picture);
    if (std::wcslen(path) >= MAX_PATH) return LoadResult::kNotAPicture;
    ReadResult opened;
    FileStream* const file = OpenFileStream(path, opened);
    if (!file) return AsLoadResult(opened);
    const LoadResult result =
        DecodeStream(picture, file, std::min(pixelLimit, LargestPicturePixels()), gate);
    if (result == LoadResult::kLoaded) {
        MeasurePicture(picture);
    } else {
        ReleasePicture(picture);
    }
    // The picture holds the stream for as long as it needs it.
    AsStream(file)->Release();
    return result;
}
