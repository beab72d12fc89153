#pragma once
// imaging/pixels: the pixels the program owns, scaled and composed for the view.
#include <functional>
#include <memory>
#include <vector>

#include "imaging/pixels/scaler.h"
#include "platform/platform.h"

// Releases a COM object that a unique_ptr owns.
struct ComRelease {
    void operator()(IUnknown* object) const {
        object->Release();
    }
};
template <class T>
using Com = std::unique_ptr<T, ComRelease>;

// What became of a decode: a picture; a file that is none (or gone); one that could not be read
// for now (held by another program, out of memory, an I/O error), which a later try may show; or
// a picture of more pixels than the limit or than this build can hold, found out before it was
// decoded wherever the platform decodes on demand.
enum class LoadResult { kLoaded, kNotAPicture, kNotNow, kOverLimit };

// What a load asks of its caller, from its own thread. A decode itself is never cut short: a
// decoder may not survive a read failing under it.
struct LoadGate {
    // Whether a picture of the pixels its header declares (-1: the header tells none) may be
    // decoded now; refused, the load ends with kOverLimit before any decode.
    std::function<bool(long long declaredPixels)> mayDecode;
    // Whether the picture is still wanted: if not, the load ends with kNotNow before its next
    // step of its own (turning, reducing).
    std::function<bool()> stillWanted;
};

// Whether the gate, if any, still wants the picture.
inline bool StillWanted(const LoadGate* gate) {
    return !gate || !gate->stillWanted || gate->stillWanted();
}

// The decoder that selects the frames of a picture that only the system's codecs decode, made by
// the thread that first does. A codec may serve only the thread that made it, so the decoder
// never goes with the picture: a picture changes threads only by being moved, and moving it
// releases the decoder on the thread that moves it, the one whose picture it was.
struct FrameDecoder {
    FrameDecoder() = default;
    FrameDecoder(FrameDecoder&& other) noexcept {
        other.decoder.reset();
    }
    FrameDecoder& operator=(FrameDecoder&& other) noexcept {
        decoder.reset();
        other.decoder.reset();
        return *this;
    }
    Com<IWICBitmapDecoder> decoder;
};

// A picture as the program holds it, whichever decoder made it. Moving it moves all of it but
// the frame decoder.
struct Picture {
    // The frame on show, premultiplied, and its reductions; empty for a metafile or no picture.
    Reductions levels;
    // Tells these pixels from any others the process has held: new whenever they change, 0 for
    // none.
    unsigned generation = 0;
    // What still stands behind the pixels: the GDI+ image of a picture of several frames, or a
    // metafile, which has no pixels and is drawn at the size of the view.
    std::unique_ptr<Gdiplus::Image> image;
    // A picture of several frames that only the system's codecs decode: its file, in memory.
    Com<IStream> file;
    FrameDecoder codec;
    int imageWidth = 0;
    int imageHeight = 0;
    GUID frameDimension = {};
    int frameCount = 1;
    std::vector<int> frameDelaysMs;  // one per frame while frameCount >= 2, else empty
    // The view's turn after the upright one, in quarters clockwise (0 to 3): a new picture starts
    // unturned, and the pixels, sizes and frames are the turned ones.
    int quarterTurns = 0;
};

bool HasPixels(const Picture& picture);
bool IsMetafile(const Picture& picture);
// Pixels or a metafile to draw.
bool HasPicture(const Picture& picture);
// Decoded pixels the picture holds, its reductions included.
long long HeldPixels(const Picture& picture);
// Makes pixels the frame on show, turned as the view is, with their reductions and a new
// generation. False when memory is short, leaving the frame on show whole: its pixels and its
// reductions.
bool ShowPixels(Picture& picture, Pixels pixels);

// Frames whose delay the file does not give show this long.
constexpr int kMissingDelayMs = 100;
// A frame delay in hundredths of a second as milliseconds, saturated to 32 bits.
int DelayToMilliseconds(long hundredths);

// Premultiplied pixels to straight alpha, as icons and the clipboard take them.
void Unpremultiply(uint32_t* pixels, size_t count);

// Turns and mirrors pixels as orientation (1 to 8, as the Exif tag gives it; 0 for none) asks, to
// show them upright. False, leaving them as they were, when memory is short.
bool TurnUpright(Pixels& pixels, int orientation);
// Opaque pixels for a stored picture of width by height, the size they take once turned upright
// as orientation asks; none when memory is short.
Pixels AllocateUpright(int width, int height, int orientation);
// Widens count stored rows of 24-bit BGR, stride bytes apart, from stored row first on, into
// their places in upright pixels (as AllocateUpright made them): the same pixels as widening them
// all and then turning them upright, in one pass.
void WidenUpright(const BYTE* bgr, size_t stride, int first, int count, int orientation,
                  Pixels& upright);
// Turns the picture's pixels a quarter clockwise quarters times (counter-clockwise for negative
// quarters) and remakes their reductions. False, changing nothing, when memory is short or the
// picture has no pixels (a metafile).
bool TurnPicture(Picture& picture, int quarters);
