#include "imaging/decode/codecs.h"

#include <climits>
#include <vector>

#include "platform/apartment.h"

namespace {

// Making a factory costs a third of a millisecond, too much for every frame step: a thread that
// stays in COM keeps the one it made.
thread_local IWICImagingFactory* threadFactory = nullptr;

// A whole decode may run on a thread that the system lends (its pool's), which nothing of ours
// may outlive: it enters COM for the call and leaves the thread as it found it, without a factory
// it did not have. On a thread that is in its own apartment already, it uses that one.
struct ComForTheCall {
    const HRESULT entered = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool hadFactory = threadFactory != nullptr;
    ~ComForTheCall() {
        if (!hadFactory) ReleaseCodecFactory();
        if (SUCCEEDED(entered)) CoUninitialize();
    }
};

IWICImagingFactory* Factory() {
    if (!threadFactory) {
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_PPV_ARGS(&threadFactory));
    }
    return threadFactory;
}

Com<IWICBitmapDecoder> MakeDecoder(IStream* file) {
    IWICBitmapDecoder* decoder = nullptr;
    file->Seek({}, STREAM_SEEK_SET, nullptr);
    if (!Factory() || FAILED(Factory()->CreateDecoderFromStream(
                          file, nullptr, WICDecodeMetadataCacheOnDemand, &decoder))) {
        decoder = nullptr;
    }
    return Com<IWICBitmapDecoder>(decoder);
}

Com<IWICBitmapFrameDecode> GetFrame(IWICBitmapDecoder* decoder, UINT index) {
    IWICBitmapFrameDecode* frame = nullptr;
    if (FAILED(decoder->GetFrame(index, &frame))) frame = nullptr;
    return Com<IWICBitmapFrameDecode>(frame);
}

// A frame's colours in sRGB, in the given format, where it carries a colour profile; the frame
// itself otherwise.
Com<IWICBitmapSource> InSrgb(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame,
                             const WICPixelFormatGUID& format) {
    frame->AddRef();
    Com<IWICBitmapSource> source(frame);
    IWICColorContext *profile = nullptr, *srgb = nullptr;
    IWICColorTransform* transform = nullptr;
    UINT count = 0;
    WICColorContextType type = WICColorContextUninitialized;
    if (SUCCEEDED(factory->CreateColorContext(&profile)) &&
        SUCCEEDED(frame->GetColorContexts(1, &profile, &count)) && count >= 1 &&
        SUCCEEDED(profile->GetType(&type)) && type == WICColorContextProfile &&
        SUCCEEDED(factory->CreateColorContext(&srgb)) &&
        SUCCEEDED(srgb->InitializeFromExifColorSpace(1)) &&
        SUCCEEDED(factory->CreateColorTransformer(&transform)) &&
        SUCCEEDED(transform->Initialize(frame, profile, srgb, format))) {
        source.reset(transform);
        transform = nullptr;
    }
    for (IUnknown* object : {static_cast<IUnknown*>(profile), static_cast<IUnknown*>(srgb),
                             static_cast<IUnknown*>(transform)}) {
        if (object) object->Release();
    }
    return source;
}

// Decodes the frame into pixels, premultiplied; pixels of the frame's size are written over,
// others (turned by the view) replaced.
bool CopyFrame(IWICBitmapFrameDecode* frame, Pixels& pixels) {
    IWICImagingFactory* const factory = Factory();
    IWICFormatConverter* converter = nullptr;
    UINT width = 0, height = 0;
    if (FAILED(frame->GetSize(&width, &height))) return false;
    if (pixels.width != int(width) || pixels.height != int(height)) {
        pixels = AllocatePixels(int(width), int(height));
    }
    if (!pixels.bits || !factory || FAILED(factory->CreateFormatConverter(&converter))) {
        return false;
    }
    const Com<IWICFormatConverter> owner(converter);
    const Com<IWICBitmapSource> source = InSrgb(factory, frame, GUID_WICPixelFormat32bppBGRA);
    if (FAILED(converter->Initialize(source.get(), GUID_WICPixelFormat32bppPBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
        return false;
    }
    // In bands, since a copy's size is counted in 32 bits.
    const UINT stride = UINT(pixels.width) * 4;
    const int bandRows = int(std::max<UINT>(1, INT_MAX / stride));
    for (int y = 0; y < pixels.height; y += bandRows) {
        const WICRect band = {0, y, pixels.width, std::min(bandRows, pixels.height - y)};
        BYTE* const to = reinterpret_cast<BYTE*>(pixels.bits.get() + size_t(y) * pixels.width);
        if (FAILED(converter->CopyPixels(&band, stride, stride * UINT(band.Height), to))) {
            return false;
        }
    }
    return true;
}

// A value of the frame's metadata as an unsigned number, or -1 for none.
long long ReadMetadataNumber(IWICMetadataQueryReader* reader, const wchar_t* name) {
    PROPVARIANT value;
    PropVariantInit(&value);
    long long number = -1;
    if (SUCCEEDED(reader->GetMetadataByName(name, &value))) {
        if (value.vt == VT_UI1) number = value.bVal;
        if (value.vt == VT_UI2) number = value.uiVal;
        if (value.vt == VT_UI4) number = value.ulVal;
    }
    PropVariantClear(&value);
    return number;
}

Com<IWICMetadataQueryReader> MetadataOf(IWICBitmapFrameDecode* frame) {
    IWICMetadataQueryReader* reader = nullptr;
    if (FAILED(frame->GetMetadataQueryReader(&reader))) reader = nullptr;
    return Com<IWICMetadataQueryReader>(reader);
}

// A GIF-style delay in hundredths of a second, or an animated WebP's frame duration in
// milliseconds.
int FrameDelayMs(IWICBitmapFrameDecode* frame) {
    const Com<IWICMetadataQueryReader> reader = MetadataOf(frame);
    if (!reader) return kMissingDelayMs;
    const long long hundredths = ReadMetadataNumber(reader.get(), L"/grctlext/Delay");
    if (hundredths >= 0) return DelayToMilliseconds(long(hundredths));
    const long long ms = ReadMetadataNumber(reader.get(), L"/ANMF/FrameDuration");
    return ms >= 0 ? int(std::min<long long>(ms, INT_MAX)) : kMissingDelayMs;
}

// HEIF and AVIF codecs turn their pictures themselves; their tag only tells what they did.
int RecordedOrientation(IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame) {
    GUID container = {};
    decoder->GetContainerFormat(&container);
    const Com<IWICMetadataQueryReader> reader = MetadataOf(frame);
    if (!reader || IsEqualGUID(container, GUID_ContainerFormatHeif)) return 0;
    const long long orientation = ReadMetadataNumber(reader.get(), L"System.Photo.Orientation");
    return orientation >= 0 && orientation <= 8 ? int(orientation) : 0;
}

// Every frame plays, or none: frames of other sizes are mip levels, thumbnails or previews, and
// those of a DDS are the faces of a cube or the slices of a texture array.
int PlayedFrames(IWICBitmapDecoder* decoder, UINT width, UINT height) {
    GUID container = {};
    decoder->GetContainerFormat(&container);
    if (IsEqualGUID(container, GUID_ContainerFormatDds)) return 1;
    UINT count = 0;
    decoder->GetFrameCount(&count);
    for (UINT i = 1; i < count; ++i) {
        const Com<IWICBitmapFrameDecode> frame = GetFrame(decoder, i);
        UINT w = 0, h = 0;
        if (!frame || FAILED(frame->GetSize(&w, &h)) || w != width || h != height) return 1;
    }
    return int(std::clamp<UINT>(count, 1, INT_MAX));
}

void ReadDelays(Picture& picture, IWICBitmapDecoder* decoder) {
    picture.frameDelaysMs.assign(picture.frameCount, kMissingDelayMs);
    for (int i = 0; i < picture.frameCount; ++i) {
        const Com<IWICBitmapFrameDecode> frame = GetFrame(decoder, UINT(i));
        if (frame) picture.frameDelaysMs[i] = FrameDelayMs(frame.get());
    }
}

// The first frame into the picture's pixels; the frames that play and their delays.
LoadResult ReadFrames(Picture& picture, IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* first,
                      UINT width, UINT height) {
    Pixels pixels = AllocatePixels(int(width), int(height));
    if (!pixels.bits) return LoadResult::kNotNow;
    if (!CopyFrame(first, pixels)) return LoadResult::kNotAPicture;
    picture.frameDimension = {};
    picture.frameCount = PlayedFrames(decoder, width, height);
    if (picture.frameCount >= 2) {
        ReadDelays(picture, decoder);
    } else if (!TurnUpright(pixels, RecordedOrientation(decoder, first))) {
        return LoadResult::kNotNow;
    }
    return ShowPixels(picture, std::move(pixels)) ? LoadResult::kLoaded : LoadResult::kNotNow;
}

// What a codec's refusal says of the file: nothing, when a read failed under it.
LoadResult Refused(const FileStream* file) {
    return ReadFailed(file) ? LoadResult::kNotNow : LoadResult::kNotAPicture;
}

// The frame's size, where the program can hold a picture of it.
bool ReadFrameSize(IWICBitmapFrameDecode* frame, UINT& width, UINT& height) {
    return frame && SUCCEEDED(frame->GetSize(&width, &height)) && width != 0 && height != 0 &&
           width <= INT_MAX / 4 && height <= INT_MAX;
}

// One frame in a format without transparency: what the 24-bit route takes.
bool IsOpaqueSingleFrame(IWICBitmapDecoder* decoder, IWICBitmapFrameDecode* frame) {
    UINT count = 0;
    WICPixelFormatGUID format = {};
    if (FAILED(decoder->GetFrameCount(&count)) || count != 1 ||
        FAILED(frame->GetPixelFormat(&format))) {
        return false;
    }
    for (const GUID& opaque : {GUID_WICPixelFormat24bppBGR, GUID_WICPixelFormat24bppRGB,
                               GUID_WICPixelFormat8bppGray, GUID_WICPixelFormat32bppBGR}) {
        if (IsEqualGUID(format, opaque)) return true;
    }
    return false;
}

// The frame's pixels as 24-bit BGR in sRGB, through a converter only where they are not that
// already; null when the codecs cannot convert them.
Com<IWICBitmapSource> InBgr24(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame) {
    Com<IWICBitmapSource> source = InSrgb(factory, frame, GUID_WICPixelFormat24bppBGR);
    WICPixelFormatGUID format = {};
    if (FAILED(source->GetPixelFormat(&format))) return nullptr;
    if (IsEqualGUID(format, GUID_WICPixelFormat24bppBGR)) return source;
    IWICFormatConverter* converter = nullptr;
    if (FAILED(factory->CreateFormatConverter(&converter))) return nullptr;
    Com<IWICBitmapSource> converted(converter);
    if (FAILED(converter->Initialize(source.get(), GUID_WICPixelFormat24bppBGR,
                                     WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
        return nullptr;
    }
    return converted;
}

// Stored rows copied at a time: few enough to stay in the cache while they are widened.
constexpr UINT kBandBytes = 1 << 20;

// The source's pixels widened into upright pixels, turned as orientation asks, band by band.
bool CopyUpright(IWICBitmapSource* source, int width, int height, int orientation,
                 Pixels& upright) {
    const UINT stride = UINT(width) * 3;
    const int bandRows = int(std::clamp<UINT>(kBandBytes / stride, 1, UINT(height)));
    std::vector<BYTE> band(size_t(stride) * bandRows);
    for (int y = 0; y < height; y += bandRows) {
        const WICRect rows = {0, y, width, std::min(bandRows, height - y)};
        if (FAILED(source->CopyPixels(&rows, stride, stride * UINT(rows.Height), band.data()))) {
            return false;
        }
        WidenUpright(band.data(), stride, y, rows.Height, orientation, upright);
    }
    return true;
}

}  // namespace

LoadResult DecodeOpaqueWithCodecs(Picture& picture, FileStream* file, long long pixelLimit,
                                  const LoadGate* gate, int exifOrientation) {
    const ComForTheCall com;
    const Com<IWICBitmapDecoder> decoder = MakeDecoder(AsStream(file));
    if (!decoder) return Refused(file);
    const Com<IWICBitmapFrameDecode> frame = GetFrame(decoder.get(), 0);
    UINT width = 0, height = 0;
    if (!ReadFrameSize(frame.get(), width, height) ||
        !IsOpaqueSingleFrame(decoder.get(), frame.get())) {
        return Refused(file);
    }
    if (static_cast<long long>(width) * height > pixelLimit) return LoadResult::kOverLimit;
    if (!StillWanted(gate)) return LoadResult::kNotNow;
    const int recorded = RecordedOrientation(decoder.get(), frame.get());
    const int orientation = recorded != 0 ? recorded : exifOrientation;
    Pixels pixels = AllocateUpright(int(width), int(height), orientation);
    if (!pixels.bits) return LoadResult::kNotNow;
    const Com<IWICBitmapSource> source = InBgr24(Factory(), frame.get());
    if (!source || !CopyUpright(source.get(), int(width), int(height), orientation, pixels)) {
        return Refused(file);
    }
    // Pixels decoded around a failed read are not the file's.
    if (ReadFailed(file) || !StillWanted(gate)) return LoadResult::kNotNow;
    picture.frameDimension = {};
    picture.frameCount = 1;
    return ShowPixels(picture, std::move(pixels)) ? LoadResult::kLoaded : LoadResult::kNotNow;
}

// The decoder goes with this thread's work: a picture read ahead is shown by another thread.
LoadResult DecodeWithCodecs(Picture& picture, FileStream* file, long long pixelLimit,
                            const LoadGate* gate) {
    const ComForTheCall com;
    const Com<IWICBitmapDecoder> decoder = MakeDecoder(AsStream(file));
    if (!decoder) return Refused(file);
    const Com<IWICBitmapFrameDecode> first = GetFrame(decoder.get(), 0);
    UINT width = 0, height = 0;
    if (!ReadFrameSize(first.get(), width, height)) return Refused(file);
    if (static_cast<long long>(width) * height > pixelLimit) return LoadResult::kOverLimit;
    if (!StillWanted(gate)) return LoadResult::kNotNow;
    const ReadResult kept = KeepFileInMemory(file);
    if (kept != ReadResult::kRead) {
        return kept == ReadResult::kNotNow ? LoadResult::kNotNow : LoadResult::kNotAPicture;
    }
    const LoadResult read = ReadFrames(picture, decoder.get(), first.get(), width, height);
    if (read == LoadResult::kLoaded && picture.frameCount >= 2) {
        AsStream(file)->AddRef();
        picture.file.reset(AsStream(file));
    }
    return read;
}

// The frame is decoded into new pixels: one that fails part-way leaves the frame on show whole.
bool SelectCodecFrame(Picture& picture, int index) {
    Com<IWICBitmapDecoder>& decoder = picture.codec.decoder;
    if (!picture.file || !HasPixels(picture)) return false;
    JoinApartment();
    if (!decoder) decoder = MakeDecoder(picture.file.get());
    if (!decoder) return false;
    const Com<IWICBitmapFrameDecode> frame = GetFrame(decoder.get(), UINT(index));
    Pixels pixels;
    return frame && CopyFrame(frame.get(), pixels) && ShowPixels(picture, std::move(pixels));
}

void ReleaseCodecFactory() {
    if (threadFactory) threadFactory->Release();
    threadFactory = nullptr;
}
