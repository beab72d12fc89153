#include "imaging/codecs.h"

#include <climits>

namespace {

template <class T>
using Com = std::unique_ptr<T, ComRelease>;

Com<IWICImagingFactory> MakeFactory() {
    IWICImagingFactory* factory = nullptr;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                     IID_PPV_ARGS(&factory));
    return Com<IWICImagingFactory>(factory);
}

Com<IWICBitmapFrameDecode> GetFrame(IWICBitmapDecoder* decoder, UINT index) {
    IWICBitmapFrameDecode* frame = nullptr;
    if (FAILED(decoder->GetFrame(index, &frame))) frame = nullptr;
    return Com<IWICBitmapFrameDecode>(frame);
}

// A frame's colours in sRGB where it carries a colour profile; the frame itself otherwise.
Com<IWICBitmapSource> InSrgb(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame) {
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
        SUCCEEDED(transform->Initialize(frame, profile, srgb, GUID_WICPixelFormat32bppBGRA))) {
        source.reset(transform);
        transform = nullptr;
    }
    for (IUnknown* object : {static_cast<IUnknown*>(profile), static_cast<IUnknown*>(srgb),
                             static_cast<IUnknown*>(transform)}) {
        if (object) object->Release();
    }
    return source;
}

// Decodes the frame into bitmap, of the frame's size: 32-bit pixels with straight alpha, as
// GDI+ holds them.
bool CopyFrame(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, Gdiplus::Bitmap& bitmap) {
    IWICFormatConverter* converter = nullptr;
    if (FAILED(factory->CreateFormatConverter(&converter))) return false;
    const Com<IWICFormatConverter> owner(converter);
    const Com<IWICBitmapSource> source = InSrgb(factory, frame);
    if (FAILED(converter->Initialize(source.get(), GUID_WICPixelFormat32bppBGRA,
                                     WICBitmapDitherTypeNone, nullptr, 0,
                                     WICBitmapPaletteTypeCustom))) {
        return false;
    }
    Gdiplus::Rect all(0, 0, int(bitmap.GetWidth()), int(bitmap.GetHeight()));
    Gdiplus::BitmapData data = {};
    if (bitmap.LockBits(&all, Gdiplus::ImageLockModeWrite, PixelFormat32bppARGB, &data) !=
        Gdiplus::Ok) {
        return false;
    }
    const HRESULT copied =
        converter->CopyPixels(nullptr, UINT(data.Stride), UINT(data.Stride) * data.Height,
                              static_cast<BYTE*>(data.Scan0));
    bitmap.UnlockBits(&data);
    return SUCCEEDED(copied);
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

// Every frame plays, or none: frames of other sizes are mip levels, thumbnails or previews.
int PlayedFrames(IWICBitmapDecoder* decoder, UINT width, UINT height) {
    UINT count = 0;
    decoder->GetFrameCount(&count);
    for (UINT i = 1; i < count; ++i) {
        const Com<IWICBitmapFrameDecode> frame = GetFrame(decoder, i);
        UINT w = 0, h = 0;
        if (!frame || FAILED(frame->GetSize(&w, &h)) || w != width || h != height) return 1;
    }
    return int(std::clamp<UINT>(count, 1, INT_MAX));
}

void ReadDelays(AppState& state) {
    state.frameDelaysMs.assign(state.frameCount, kMissingDelayMs);
    for (int i = 0; i < state.frameCount; ++i) {
        const Com<IWICBitmapFrameDecode> frame = GetFrame(state.codec.get(), UINT(i));
        if (frame) state.frameDelaysMs[i] = FrameDelayMs(frame.get());
    }
}

}  // namespace

LoadResult DecodeWithCodecs(AppState& state, FileStream* file, long long pixelLimit) {
    const Com<IWICImagingFactory> factory = MakeFactory();
    IWICBitmapDecoder* decoder = nullptr;
    AsStream(file)->Seek({}, STREAM_SEEK_SET, nullptr);
    if (!factory || FAILED(factory->CreateDecoderFromStream(
                        AsStream(file), nullptr, WICDecodeMetadataCacheOnDemand, &decoder))) {
        return ReadFailed(file) ? LoadResult::kNotNow : LoadResult::kNotAPicture;
    }
    state.codec.reset(decoder);
    const Com<IWICBitmapFrameDecode> first = GetFrame(decoder, 0);
    UINT width = 0, height = 0;
    if (!first || FAILED(first->GetSize(&width, &height)) || width == 0 || height == 0 ||
        width > INT_MAX || height > INT_MAX) {
        return LoadResult::kNotAPicture;
    }
    if (static_cast<long long>(width) * height > pixelLimit) return LoadResult::kOverLimit;
    const ReadResult kept = KeepFileInMemory(file);
    if (kept != ReadResult::kRead) {
        return kept == ReadResult::kNotNow ? LoadResult::kNotNow : LoadResult::kNotAPicture;
    }
    auto* bitmap = new Gdiplus::Bitmap(int(width), int(height), PixelFormat32bppARGB);
    state.image.reset(bitmap);
    if (bitmap->GetLastStatus() != Gdiplus::Ok) return LoadResult::kNotNow;
    if (!CopyFrame(factory.get(), first.get(), *bitmap)) return LoadResult::kNotAPicture;
    state.frameDimension = {};
    state.frameCount = PlayedFrames(decoder, width, height);
    if (state.frameCount >= 2) {
        ReadDelays(state);
    } else {
        TurnUpright(*bitmap, RecordedOrientation(decoder, first.get()));
        state.codec.reset();
    }
    return LoadResult::kLoaded;
}

void SelectCodecFrame(AppState& state, int index) {
    const Com<IWICImagingFactory> factory = MakeFactory();
    const Com<IWICBitmapFrameDecode> frame = GetFrame(state.codec.get(), UINT(index));
    if (factory && frame)
        CopyFrame(factory.get(), frame.get(), *static_cast<Gdiplus::Bitmap*>(state.image.get()));
}
