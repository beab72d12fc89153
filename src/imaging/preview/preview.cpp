#include "imaging/preview/preview.h"

#include <algorithm>
#include <cstring>

#include "imaging/decode/exif.h"
#include "imaging/decode/file_stream.h"
#include "imaging/preview/reduced_jpeg.h"

namespace {

// A black bar's lines, the one next to the picture left out, average at most this level of
// their brightest channel: JPEG's ringing lifts them to about 15 at a camera's qualities.
constexpr uint64_t kBlackLevel = 32;

// The thumbnail, width x height as its header says, decoded into pixels of that size.
bool DecodeThumbnail(const unsigned char* bytes, size_t size, int width, int height,
                     Pixels& pixels) {
    FileStream* const file = OpenMemoryStream(bytes, size);
    if (!file) return false;
    const Com<IStream> stream(AsStream(file));
    Gdiplus::Bitmap bitmap(stream.get(), FALSE);
    if (bitmap.GetLastStatus() != Gdiplus::Ok || int(bitmap.GetWidth()) != width ||
        int(bitmap.GetHeight()) != height) {
        return false;
    }
    pixels = AllocatePixels(width, height);
    if (!pixels.bits) return false;
    // A JPEG is opaque: its straight pixels are premultiplied as they are.
    Gdiplus::Rect all(0, 0, width, height);
    Gdiplus::BitmapData data = {UINT(width),          UINT(height),      width * 4,
                                PixelFormat32bppARGB, pixels.bits.get(), 0};
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                        PixelFormat32bppARGB, &data) != Gdiplus::Ok) {
        return false;
    }
    bitmap.UnlockBits(&data);
    return true;
}

bool IsBlack(const Pixels& pixels, const Region& part) {
    uint64_t sum = 0;
    for (int y = part.y; y < part.y + part.height; ++y) {
        const uint32_t* row = pixels.bits.get() + size_t(y) * pixels.width;
        for (int x = part.x; x < part.x + part.width; ++x) {
            sum += std::max({row[x] >> 16 & 0xFF, row[x] >> 8 & 0xFF, row[x] & 0xFF});
        }
    }
    return sum <= kBlackLevel * std::max(0, part.width) * std::max(0, part.height);
}

// The middle part of the thumbnail that has the picture's proportions, where the bars either side
// of it are black; else the whole thumbnail. Rounded down, so that no black line stays.
Region PictureWithin(const Pixels& thumbnail, long long pictureWidth, long long pictureHeight) {
    const int width = thumbnail.width, height = thumbnail.height;
    Region inner = {0, 0, width, height}, before, after;
    if (width * pictureHeight > height * pictureWidth) {
        inner.width = int(height * pictureWidth / pictureHeight);
        inner.x = (width - inner.width + 1) / 2;
        before = {0, 0, inner.x - 1, height};
        after = {inner.x + inner.width + 1, 0, width - inner.x - inner.width - 1, height};
    } else {
        inner.height = int(width * pictureHeight / pictureWidth);
        inner.y = (height - inner.height + 1) / 2;
        before = {0, 0, width, inner.y - 1};
        after = {0, inner.y + inner.height + 1, width, height - inner.y - inner.height - 1};
    }
    if (IsBlack(thumbnail, before) && IsBlack(thumbnail, after)) return inner;
    return {0, 0, width, height};
}

Pixels Cut(const Pixels& pixels, const Region& part) {
    Pixels cut = AllocatePixels(part.width, part.height);
    for (int y = 0; cut.bits && y < part.height; ++y) {
        std::memcpy(cut.bits.get() + size_t(y) * part.width,
                    pixels.bits.get() + size_t(part.y + y) * pixels.width + part.x,
                    size_t(part.width) * 4);
    }
    return cut;
}

// A preview of the photo's upright size, of the pixels turned upright, cut to the picture's
// proportions where they are a thumbnail's. False when memory is short.
bool Present(Pixels pixels, const JpegHeader& photo, bool thumbnail, Picture& preview) {
    if (!TurnUpright(pixels, photo.orientation)) return false;
    Picture made;
    const bool turned = photo.orientation >= 5;
    made.imageWidth = turned ? photo.height : photo.width;
    made.imageHeight = turned ? photo.width : photo.height;
    const Region all = {0, 0, pixels.width, pixels.height};
    made.levels.push_back(
        Cut(pixels, thumbnail ? PictureWithin(pixels, made.imageWidth, made.imageHeight) : all));
    if (!made.levels[0].bits || !MakeReductions(made.levels)) return false;
    preview = std::move(made);
    return true;
}

}  // namespace

bool MakeThumbnailPreview(const unsigned char* bytes, size_t size, Picture& preview) {
    const JpegHeader photo = ReadJpegHeader(bytes, size);
    if (!photo.thumbnail || !photo.width) return false;
    // The thumbnail is stored the same way round as the picture, and turned by the same tag.
    const JpegHeader thumbnail = ReadJpegHeader(photo.thumbnail, photo.thumbnailSize);
    Pixels pixels;
    return thumbnail.width && thumbnail.width <= photo.width && thumbnail.height <= photo.height &&
           DecodeThumbnail(photo.thumbnail, photo.thumbnailSize, thumbnail.width, thumbnail.height,
                           pixels) &&
           Present(std::move(pixels), photo, true, preview);
}

bool MakeReducedPreview(const unsigned char* bytes, size_t size, long long pixelLimit,
                        const std::function<bool()>& stillWanted, Picture& preview) {
    Pixels pixels;
    return DecodeReducedJpeg(bytes, size, pixelLimit, stillWanted, pixels) &&
           Present(std::move(pixels), ReadJpegHeader(bytes, size), false, preview);
}
