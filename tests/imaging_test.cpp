// Loading and composing pictures, in this process.
#include <climits>

#include "imaging/pixels/view.h"
#include "imaging/decode/codecs.h"
#include "imaging/pixels/composition.h"
#include "imaging/preview/preview.h"
#include "support.h"

TEST(Imaging, ReadsSizeFramesAndDelaysAndAFailureKeepsTheSize) {
    // file, frame dimension, width, height and frames, delays
    const std::tuple<const wchar_t*, const GUID*, std::vector<int>, std::vector<int>> cases[] = {
        {L"green_101x51.bmp", &Gdiplus::FrameDimensionPage, {101, 51, 1}, {}},
        {L"anim3_16x16.gif", &Gdiplus::FrameDimensionTime, {16, 16, 3}, {100, 0, 50}},
        // Pages carry no delay item, so each shows for the default 100 ms.
        {L"pages2_16x16.tif", &Gdiplus::FrameDimensionPage, {16, 16, 2}, {100, 100}}};
    Picture picture;
    for (const auto& [name, dimension, sizeAndFrames, delaysMs] : cases) {
        ASSERT_EQ(LoadImageFile(picture, Fixture(name).c_str()), LoadResult::kLoaded);
        EXPECT_EQ(std::vector<int>({picture.imageWidth, picture.imageHeight, picture.frameCount}),
                  sizeAndFrames);
        EXPECT_TRUE(IsEqualGUID(picture.frameDimension, *dimension));
        EXPECT_EQ(picture.frameDelaysMs, delaysMs);
    }
    // A failure releases the picture, leaves one frame, and keeps the size of the one before.
    EXPECT_EQ(LoadImageFile(picture, Fixture(L"not_an_image.png").c_str()),
              LoadResult::kNotAPicture);
    EXPECT_TRUE(!HasPicture(picture) && picture.frameDelaysMs.empty());
    EXPECT_EQ(std::tuple(picture.imageWidth, picture.imageHeight, picture.frameCount),
              std::tuple(16, 16, 1));
}

// An 8-bit BMP declaring more than 4 GiB of pixels: Wine's decoder sizes the array in 32 bits
// and runs off the small buffer that gives.
TEST(Imaging, BitmapsTooLargeForAnyProcessAreRefusedUnread) {
    TempFolder folder;
    for (const auto& [width, height] :
         {std::pair(65536, 65536), {65536, -65536}, {1 << 20, 1 << 12}}) {
        const BITMAPFILEHEADER file = {0x4D42, 0, 0, 0, 14 + 40 + 1024};
        const BITMAPINFOHEADER info = {40, width, height, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
        const std::string bytes = std::string(reinterpret_cast<const char*>(&file), sizeof file) +
                                  std::string(reinterpret_cast<const char*>(&info), sizeof info) +
                                  std::string(1024 + 64, '\0');
        EXPECT_EQ(LoadImageFile(app.onShow.picture, folder.Add(L"huge.bmp", bytes).c_str()),
                  LoadResult::kNotAPicture)
            << width;
    }
}

// Each step changes the view from where the one before left it: whatever changed must not be
// mistaken for a pan, which moves the buffer's pixels and renders only the strips uncovered.
// clang-format off
const std::pair<const char*, void (*)()> kSteps[] = {
    {"fit",                     [] { app.view.fitToWindow = true; }},
    {"actual size",             [] { app.view.fitToWindow = false, app.view.zoom = 1; }},
    {"zoom 2",                  [] { app.view.zoom = 2; }},
    {"pan right",               [] { app.view.panX += 8; }},
    {"pan beyond the client",   [] { app.view.panX += 400; }},
    {"pan back",                [] { app.view.panX -= 397, app.view.panY += 3; }},
    {"zoom 1/2",                [] { app.view.zoom = 0.5f; }},
    {"pan at 1/2",              [] { app.view.panX -= 9, app.view.panY += 2; }},
    {"zoom 8",                  [] { app.view.zoom = 8; }},
    {"zoom 3",                  [] { app.view.zoom = 3; }},
    {"pan at 3",                [] { app.view.panX += 8; }},
    {"fit",                     [] { app.view.fitToWindow = true; }},
    {"zoom 2 from fit",         [] { app.view.fitToWindow = false, app.view.zoom = 2; }},
    {"filter",                  [] { app.view.smoothScaling = !app.view.smoothScaling; }},
    {"pan after the filter",    [] { app.view.panX -= 8; }},
    {"background",              [] { app.view.backgroundIndex = 2; }},
    {"pan after it",            [] { app.view.panY -= 8; }},
    {"next frame",              [] { SelectFrame(app.onShow.picture, ++app.onShow.frame); }},
    {"pan on the frame",        [] { app.view.panY += 2; }},
    {"another picture",         [] { LoadImageFile(app.onShow.picture, Fixture(L"noise2_97x61.png").c_str()); }},
    {"pan on it",               [] { app.view.panX += 1; }},
    {"picture gone",            [] { app.onShow.picture = Picture{}; }},
    {"pan without a picture",   [] { app.view.panX += 8; }},
};
// clang-format on

TEST(Imaging, EveryViewMatchesTheViewComposedAfresh) {
    for (const wchar_t* picture :
         {L"noise_97x61.png", L"noise_rgba_53x37.png", L"anim3_16x16.gif"}) {
        for (const SIZE client : {SIZE{151, 91}, SIZE{40, 30}, SIZE{1, 1}}) {
            for (const bool smooth : {true, false}) {
                ResetApp();
                ASSERT_EQ(LoadImageFile(app.onShow.picture, Fixture(picture).c_str()),
                          LoadResult::kLoaded);
                app.view.clientWidth = client.cx, app.view.clientHeight = client.cy;
                app.view.smoothScaling = smooth, app.view.backgroundIndex = smooth ? 1 : -1;
                for (const auto& [what, apply] : kSteps) {
                    apply();
                    ComposeBackBuffer(app.onShow, app.view);
                    const std::vector<DWORD> composed = BackBufferPixels(app);
                    ReleaseBackBuffer(app.onShow);
                    ComposeBackBuffer(app.onShow, app.view);
                    ASSERT_EQ(composed, BackBufferPixels(app))
                        << testing::PrintToString(std::wstring(picture)) << " in " << client.cx
                        << "x" << client.cy << (smooth ? " smooth" : " nearest") << ", " << what;
                }
            }
        }
    }
}

// What GDI+ refuses and the system's codecs read shows as the same picture saved as PNG, alpha
// and row order included. A picture of several frames decoded by them plays its frames, each
// decoded when selected, turned as the view is, with their delays.
TEST(Imaging, TheSystemCodecsReadWhatGdiplusRefuses) {
    const auto pixels = [](const wchar_t* name) {
        Picture loaded;
        EXPECT_EQ(LoadImageFile(loaded, Fixture(name).c_str()), LoadResult::kLoaded) << name;
        return FramePixels(loaded);
    };
    EXPECT_EQ(pixels(L"noise_rgba_53x37.tga"), pixels(L"noise_rgba_53x37.png"));
    EXPECT_EQ(pixels(L"noise_97x61.tga"), pixels(L"noise_97x61.png"));  // stored bottom-up
    EXPECT_EQ(pixels(L"noise_rgba_53x37.dds"), pixels(L"noise_rgba_53x37.png"));
    ReadResult opened;
    FileStream* const file = OpenFileStream(Fixture(L"corners_anim_64x32.gif").c_str(), opened);
    Picture loaded;
    ASSERT_EQ(DecodeWithCodecs(loaded, file, LLONG_MAX), LoadResult::kLoaded);
    AsStream(file)->Release();
    // The second frame has no control block: no delay of its own, so the default 100 ms.
    EXPECT_EQ(std::tuple(loaded.frameCount, loaded.frameDelaysMs),
              std::tuple(3, std::vector<int>({100, 100, 50})));
    // Each frame's top left corner, and then the second frame's turned by the view.
    for (const auto& [frame, colour] : {std::pair(2, kBlue), {1, kGreen}, {0, kRed}}) {
        SelectCodecFrame(loaded, frame);
        EXPECT_EQ(FramePixels(loaded)[0] & 0xFFFFFF, colour);
    }
    ASSERT_TRUE(TurnPicture(loaded, +1));
    SelectCodecFrame(loaded, 1);
    EXPECT_EQ(std::pair(loaded.levels[0].width, FramePixels(loaded)[0] & 0xFFFFFF),
              std::pair(32, kRed));
    // A frame that fails part-way leaves the one on show whole, so that its pixels and its
    // reductions (the actual size and the fitted view) agree, whichever decoder failed; the next
    // step decodes again.
    for (const bool codecs : {false, true}) {
        Picture pages;
        const fs::path path = Fixture(L"pages2_64x64_damaged.tif");
        FileStream* const tiff = OpenFileStream(path.c_str(), opened);
        ASSERT_EQ(
            codecs ? DecodeWithCodecs(pages, tiff, LLONG_MAX) : LoadImageFile(pages, path.c_str()),
            LoadResult::kLoaded);
        AsStream(tiff)->Release();
        ASSERT_TRUE(!SelectFrame(pages, 1) && pages.levels.size() == 2) << codecs;
        for (const Pixels& level : pages.levels) EXPECT_EQ(level.bits[0], 0xFFFF0000u);
        EXPECT_TRUE(SelectFrame(pages, 0));
    }
}

// A metafile has no pixels: it is drawn at the size of the view, and squeezed into its icons.
// An icon's mask lets the screen show through where the picture is transparent: the corners
// the metafile leaves, and the whole of an icon of no picture.
TEST(Imaging, AMetafileIsDrawnAtTheSizeOfTheView) {
    TempFolder folder;
    ResetApp();
    ASSERT_EQ(
        LoadImageFile(app.onShow.picture, DrawCrossMetafile(folder.path / L"cross.emf").c_str()),
        LoadResult::kLoaded);
    app.view.clientWidth = 300, app.view.clientHeight = 100, app.view.backgroundIndex = 0;
    ComposeBackBuffer(app.onShow, app.view);
    const Placement p = ComputePlacement(app.view, app.onShow.picture);
    const std::vector<DWORD> pixels = BackBufferPixels(app);
    EXPECT_EQ(std::tuple(pixels[50 * 300 + p.x + 2] & 0xFFFFFF, pixels[50 * 300 + 2] & 0xFFFFFF),
              std::tuple(kRed, kBlack));
    const HICON icon = MakeImageIcon(app.onShow.picture, 32), none = MakeImageIcon(Picture{}, 16);
    EXPECT_EQ(IconPixels(icon)[16 * 32 + 16] & 0xFFFFFF, kRed);
    EXPECT_EQ(std::pair(IconPixels(icon, true)[16 * 32 + 16], IconPixels(icon, true)[0]),
              std::pair(0xFF000000ul, 0xFFFFFFFFul));
    EXPECT_EQ(IconPixels(none, true), std::vector<DWORD>(16 * 16, 0xFFFFFFFF));
    DestroyIcon(icon);
    DestroyIcon(none);
}

// ReadFile, failing from 64 KiB into a file on, as a disk may, while this program's import of it
// points here.
static BOOL WINAPI ReadFileFailingMidway(HANDLE file, void* to, DWORD size, DWORD* read,
                                         OVERLAPPED* at) {
    if (at && at->Offset >= 64 * 1024) {
        SetLastError(ERROR_LOCK_VIOLATION);
        return FALSE;
    }
    return realReadFile(file, to, size, read, at);
}

// A read that fails partway through the file tells how far it got, and stays reported after the
// start is read again, until the file is kept in memory; a load meeting it says "not now".
// Positions beyond the signed 64-bit range are refused.
TEST(Imaging, TheStreamRemembersAFailedReadAndStaysWithinItsRange) {
    TempFolder folder;
    ReadResult opened;
    FileStream* const file =
        OpenFileStream(folder.Add(L"a.bin", std::string(100000, 'x')).c_str(), opened);
    IStream* const stream = AsStream(file);
    // The position after moving by move from origin, and the result.
    const auto seek = [&](LONGLONG move, DWORD origin = STREAM_SEEK_SET) {
        LARGE_INTEGER by;
        by.QuadPart = move;
        ULARGE_INTEGER now = {};
        const HRESULT result = stream->Seek(by, origin, nullptr);
        stream->Seek({}, STREAM_SEEK_CUR, &now);
        return std::pair(result, now.QuadPart);
    };
    char bytes[32];
    ULONG read = 0;
    decltype(&ReadFile)* const import = ReadFileImport();
    ASSERT_TRUE(import);
    *import = ReadFileFailingMidway;
    EXPECT_EQ(stream->Read(bytes, 16, &read), S_OK);
    seek(65536 - 10);
    EXPECT_EQ(std::pair(stream->Read(bytes, 32, &read), read), std::pair(STG_E_READFAULT, 10ul));
    EXPECT_EQ(seek(0, STREAM_SEEK_CUR).second, 65536u);
    seek(0);
    EXPECT_EQ(std::pair(stream->Read(bytes, 16, &read), read), std::pair(S_OK, 16ul));
    EXPECT_TRUE(ReadFailed(file));
    Picture loaded;
    EXPECT_EQ(LoadImageFile(loaded, (Fixture(L"damaged") / L"frames-whole.gif").c_str()),
              LoadResult::kNotNow);
    *import = realReadFile;
    ASSERT_EQ(KeepFileInMemory(file), ReadResult::kRead);
    EXPECT_FALSE(ReadFailed(file));
    seek(65536 - 10);
    EXPECT_EQ(std::pair(stream->Read(bytes, 32, &read), read), std::pair(S_OK, 32ul));
    // move, origin; result, position after
    const std::tuple<LONGLONG, DWORD, HRESULT, ULONGLONG> moves[] = {
        {LLONG_MAX, STREAM_SEEK_SET, S_OK, LLONG_MAX},
        {10, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, LLONG_MAX},
        {LLONG_MIN, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, LLONG_MAX},
        {-100000, STREAM_SEEK_END, S_OK, 0},
        {-1, STREAM_SEEK_CUR, STG_E_INVALIDFUNCTION, 0},
        {LLONG_MAX - 99999, STREAM_SEEK_END, STG_E_INVALIDFUNCTION, 0},
        {LLONG_MAX - 100000, STREAM_SEEK_END, S_OK, LLONG_MAX},
    };
    for (const auto& [move, origin, result, position] : moves) {
        EXPECT_EQ(seek(move, origin), std::pair(result, position)) << move << " from " << origin;
    }
    stream->Release();
}

// A photo's preview is its Exif thumbnail turned upright, without the black bars of a thumbnail
// of other proportions, the photo's own colours to its edges, and the size of the whole photo: its
// sizes and its corners clockwise from the top left (as stored: Red, Green, White, Blue).
TEST(Imaging, APhotosPreviewIsItsThumbnailUprightWithoutBars) {
    const std::tuple<const wchar_t*, std::vector<int>, std::string> cases[] = {
        {L"thumb_3x2.jpg", {480, 320, 160, 106}, "RGWB"},
        {L"thumb_3x2_6.jpg", {320, 480, 106, 160}, "BRGW"},
        {L"thumb_squeezed_3x2.jpg", {480, 320, 160, 120}, "RGWB"},  // kept whole
        {L"corners_6.jpg", {}, ""},                                 // no thumbnail
    };
    for (const auto& [name, sizes, corners] : cases) {
        std::string bytes(kPreviewHeaderBytes, '\0');
        bytes.resize(std::ifstream(Fixture(name), std::ios::binary)
                         .read(bytes.data(), bytes.size())
                         .gcount());
        Picture preview;
        if (!MakeThumbnailPreview(reinterpret_cast<const unsigned char*>(bytes.data()),
                                  bytes.size(), preview)) {
            EXPECT_EQ(corners, "") << "no preview of " << testing::PrintToString(name);
            continue;
        }
        const Pixels& p = preview.levels[0];
        std::string seen;
        for (const auto& [x, y] :
             {std::pair(0, 0), {p.width - 1, 0}, {p.width - 1, p.height - 1}, {0, p.height - 1}}) {
            // Each channel's top bit: red 4, green 2, blue 1.
            const DWORD c = p.bits[size_t(y) * p.width + x] >> 7;
            seen += "?BG?R??W"[(c >> 14 & 4) | (c >> 7 & 2) | (c & 1)];
        }
        EXPECT_EQ(std::tuple(preview.imageWidth, preview.imageHeight, p.width, p.height, seen),
                  std::tuple(sizes[0], sizes[1], sizes[2], sizes[3], corners));
    }
}

// The largest difference of a channel between a preview pixel and the mean of the 8 x 8 block it
// stands for in the full picture (its part within the picture, at the edges).
static int LargestBlockDifference(const Pixels& full, const Pixels& preview) {
    int largest = 0;
    for (int y = 0; y < preview.height; ++y) {
        for (int x = 0; x < preview.width; ++x) {
            for (const int shift : {16, 8, 0}) {
                int sum = 0, count = 0;
                for (int v = y * 8; v < std::min(y * 8 + 8, full.height); ++v) {
                    for (int u = x * 8; u < std::min(x * 8 + 8, full.width); ++u, ++count) {
                        sum += full.bits[size_t(v) * full.width + u] >> shift & 0xFF;
                    }
                }
                const int level = preview.bits[size_t(y) * preview.width + x] >> shift & 0xFF;
                largest = std::max(largest, std::abs(level - (sum + count / 2) / count));
            }
        }
    }
    return largest;
}

// A JPEG's own preview shows each 8 x 8 block of the platform's full decode at its mean colour,
// upright, whatever its sampling, scans, restart markers and colours: within a few levels, as
// subsampled colour is the mean of a wider block. Any fault in the decode is tens of levels out.
TEST(Imaging, AJpegsOwnPreviewShowsEachBlockAtItsMeanColour) {
    for (const wchar_t* name :
         {L"smooth_444.jpg", L"smooth_422.jpg", L"smooth_420.jpg", L"smooth_411.jpg",
          L"smooth_12.jpg", L"smooth_progressive.jpg", L"smooth_restart.jpg", L"smooth_scans.jpg",
          L"smooth_gray.jpg", L"smooth_rgb.jpg", L"smooth_6.jpg"}) {
        std::ifstream file(Fixture(name), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(file), {}};
        Picture preview;
        ASSERT_TRUE(MakeReducedPreview(reinterpret_cast<const unsigned char*>(bytes.data()),
                                       bytes.size(), LLONG_MAX, {}, preview))
            << testing::PrintToString(name);
        Picture loaded;
        ASSERT_EQ(LoadImageFile(loaded, Fixture(name).c_str()), LoadResult::kLoaded);
        const Pixels &full = loaded.levels[0], &reduced = preview.levels[0];
        EXPECT_EQ(
            std::tuple(preview.imageWidth, preview.imageHeight, reduced.width, reduced.height),
            std::tuple(full.width, full.height, (full.width + 7) / 8, (full.height + 7) / 8))
            << testing::PrintToString(name);
        EXPECT_LE(LargestBlockDifference(full, reduced), 10) << testing::PrintToString(name);
    }
}
