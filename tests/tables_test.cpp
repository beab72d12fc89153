// The arithmetic that needs no window, case by case.
#include <climits>
#include <random>

#include "imaging/pixels/view.h"
#include "imaging/decode/exif.h"
#include "imaging/decode/file_stream.h"
#include "imaging/decode/picture_size.h"
#include "imaging/preview/preview.h"
#include "imaging/preview/reduced_jpeg.h"
#include "support.h"
#include "window/shell_open.h"

TEST(Tables, PlacementPutsThePictureWhereTheUserExpectsIt) {
    // picture and client width and height, fit, zoom, pan x and y; x, y, width and height
    const std::tuple<int, int, int, int, bool, float, int, int, std::vector<int>> cases[] = {
        {400, 300, 800, 400, true, 8, 50, -30, {134, 0, 533, 400}},  // fit: zoom and pan not used
        {50, 12, 800, 600, true, 1, 0, 0, {0, 204, 800, 192}},       // 191 in double precision
        {10, 11, 100, 100, false, 1.5f, 45, 0, {-2, 42, 15, 16}},    // truncated toward zero
        {1000, 10, 200, 200, false, 1e7f, 0, 0, {INT_MIN, -49999900, INT_MIN, 100000000}},
        {100, 100, 300, 0, true, 1, 0, 0, {0, 0, 0, 0}},  // no client area
    };
    for (const auto& [iw, ih, cw, ch, fit, zoom, panX, panY, want] : cases) {
        AppState state;
        state.onShow.picture.imageWidth = iw, state.onShow.picture.imageHeight = ih;
        state.view.clientWidth = cw, state.view.clientHeight = ch;
        state.view.fitToWindow = fit, state.view.zoom = zoom, state.view.panX = panX,
        state.view.panY = panY;
        const Placement p = ComputePlacement(state.view, state.onShow.picture);
        EXPECT_EQ(std::vector<int>({p.x, p.y, p.width, p.height}), want) << iw << "x" << ih;
    }
}

// What a copy started for an argument reads back from its own command line, and the program's
// splitter beside the system's on lines that try each of its rules.
TEST(Tables, QuotedArgumentsSurviveTheCommandLineSplitter) {
    const auto system = [](const std::wstring& line) {
        int count = 0;
        LPWSTR* parsed = CommandLineToArgvW(line.c_str(), &count);
        const std::vector<std::wstring> arguments(parsed + 1, parsed + count);
        LocalFree(parsed);
        return arguments;
    };
    // clang-format off
    const std::wstring arguments[] = {L"C:\\dir with space\\", L"ends\\\\", L"a\\\"b", L"\"quoted\"",
                                      L"tab\there", L"", L"\x4e2d\x6587 \x00e9.png", std::wstring(300, L'x')};
    // clang-format on
    // A path that runs into an argument, backslashes before quotes or not, quotes in threes, an
    // empty path, no line at all.
    const std::wstring lines[] = {
        L"\"C:\\a b\\glim.exe\"x  y\t\"\" \"z", L"glim.exe a\\\\\\\"b c\\\\\"d e\"\\f \\\\",
        L"glim.exe \"\"\" \"\"\"\" a\"\"\"\"\"b \"\"\"\"\"\"c \\\"\"\" d", L"  glim.exe", L""};
    for (const std::wstring& argument : arguments) {
        const std::wstring line = L"glim.exe " + QuoteArgument(argument);
        EXPECT_EQ(SplitCommandLine(line.c_str()), std::vector<std::wstring>({argument}));
        EXPECT_EQ(system(line), std::vector<std::wstring>({argument}));
    }
    for (const std::wstring& line : lines) EXPECT_EQ(SplitCommandLine(line.c_str()), system(line));
}

// The start of a photo tagged 6 with a letterboxed thumbnail (big-endian, as Pillow and exiftool
// write it) up to the end of its frame header, damaged byte by byte and cut short at every length,
// read where a read past the bytes faults: the end of a page before one that allows no access. A
// preview needs the thumbnail and the frame header whole, and the thumbnail within the picture.
TEST(Tables, PhotoHeadersAreReadWithinTheirBytesOrNotAtAll) {
    std::string photo(0x9EF, '\0');
    std::ifstream(Fixture(L"thumb_3x2_6.jpg"), std::ios::binary).read(photo.data(), photo.size());
    auto* pages =
        static_cast<unsigned char*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(pages + 4096, 4096, PAGE_NOACCESS, &old);
    // The orientation, and whether a preview is made.
    const auto read = [&](const std::string& bytes) {
        unsigned char* const start = pages + 4096 - bytes.size();
        std::copy(bytes.begin(), bytes.end(), start);
        Picture preview;
        return std::pair(ReadJpegHeader(start, bytes.size()).orientation,
                         MakeThumbnailPreview(start, bytes.size(), preview));
    };
    EXPECT_EQ(read(photo), std::pair(6, true));
    // clang-format off
    const std::tuple<int, std::vector<unsigned char>, std::pair<int, bool>> damages[] = {
        {0x00, {0}, {0, false}},    {0x14, {0}, {0, false}},     // not a JPEG; not a marker
        {0x16, {0, 1}, {0, false}},                              // a length that cannot count itself
        {0x1E, {'I'}, {0, false}},  {0x21, {43}, {0, false}},    // byte order "IM"; not TIFF's 42
        {0x22, {0xFF}, {0, false}},                              // the directory 4 GiB on
        {0x29, {0x13}, {0, true}},  {0x2F, {2}, {0, true}},      // another tag; two values
        {0x2B, {4}, {0, true}},                                  // 32 bits
        {0x31, {0}, {0, true}},     {0x31, {9}, {0, true}},      // out of range
        {0x34, {0xFF}, {6, false}},                              // the thumbnail's directory beyond
        {0x6B, {0}, {6, false}},                                 // no offset to the thumbnail
        {0x72, {0xFF, 0xFF, 0xFF, 0xFF}, {6, false}},            // one whose end wraps round
        {0x81, {0xBD}, {6, false}},                              // a byte beyond the Exif block
        {0x96, {0}, {6, false}},                                 // a thumbnail that is no JPEG
        {0x139, {2}, {6, false}},  {0x9E1, {0, 100}, {6, false}},  // higher than the picture
    };
    // clang-format on
    for (const auto& [offset, bytes, want] : damages) {
        std::string damaged = photo;
        std::copy(bytes.begin(), bytes.end(), damaged.begin() + offset);
        EXPECT_EQ(read(damaged), want) << offset;
    }
    for (size_t size = 0; size < photo.size(); ++size) {
        EXPECT_EQ(read(photo.substr(0, size)), std::pair(size < 0x952 ? 0 : 6, false)) << size;
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}

// Each picture's own size from its header alone, the stream left at its start: a photo whose frame
// header lies past 256 KB of blocks before it, and the same cut short within them; a metafile; a
// size whose product overflows 64 signed bits; formats that declare no size, and no picture.
TEST(Tables, PictureHeadersDeclareTheirSizeOrNothing) {
    const auto bytesOf = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto declared = [](const std::string& bytes) {
        IStream* const stream =
            AsStream(OpenMemoryStream(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()));
        const long long pixels = ReadDeclaredPixels(stream);
        ULARGE_INTEGER at = {};
        stream->Seek({}, STREAM_SEEK_CUR, &at);
        stream->Release();
        return at.QuadPart == 0 ? pixels : -2;
    };
    std::string photo = bytesOf(Fixture(L"corners_6.jpg"));
    const std::string block = "\xFF\xE1\xFF\xFF" + std::string(65533, 'x');
    photo.insert(2, block + block + block + block);
    const TempFolder folder;
    const std::pair<std::string, long long> cases[] = {
        {bytesOf(Fixture(L"red_40x30.png")), 40 * 30},
        {bytesOf(Fixture(L"green_101x51.bmp")), 101 * 51},
        {bytesOf(Fixture(L"blue_20x10.gif")), 20 * 10},
        {bytesOf(Fixture(L"corners_6.jpg")), 64 * 32},
        {bytesOf(Fixture(L"corners_6.tif")), 64 * 32},
        {bytesOf(Fixture(L"noise_rgba_53x37.dds")), 53 * 37},
        {photo, 64 * 32},
        {photo.substr(0, 3 * 65537), -1},
        {bytesOf(DrawCrossMetafile(folder.path / L"cross.emf")), 0},
        {std::string("DDS ") + std::string(8, '\0') + std::string(8, '\xFF'), LLONG_MAX},
        {bytesOf(Fixture(L"noise_rgba_53x37.tga")), -1},
        {bytesOf(Fixture(L"not_an_image.png")), -1},
    };
    for (const auto& [bytes, want] : cases) EXPECT_EQ(declared(bytes), want) << bytes.size();
}

// Smooth JPEGs damaged every way a file can be, each decoded by the viewer's own reduced decode
// where a read past its bytes faults: cut short at every length (decoded, the rest mid-gray, once
// the header of the last scan it needs is whole; else refused), bytes changed at random, each
// segment's length made wrong, each Huffman table's counts and kind changed. Nothing crashes.
TEST(Tables, DamagedJpegsAreDecodedWithinTheirBytesOrRefused) {
    // the photo, the scans it needs
    const std::pair<const wchar_t*, int> photos[] = {{L"smooth_420.jpg", 1},
                                                     {L"smooth_progressive.jpg", 1},
                                                     {L"smooth_restart.jpg", 1},
                                                     {L"smooth_scans.jpg", 3},
                                                     {L"smooth_gray.jpg", 1}};
    constexpr size_t kRoom = 64 * 1024;
    auto* pages = static_cast<unsigned char*>(
        VirtualAlloc(nullptr, kRoom + 4096, MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(pages + kRoom, 4096, PAGE_NOACCESS, &old);
    const auto decodes = [&](const std::string& bytes) {
        unsigned char* const start = pages + kRoom - bytes.size();
        std::copy(bytes.begin(), bytes.end(), start);
        Pixels pixels;
        return DecodeReducedJpeg(start, bytes.size(), LLONG_MAX, {}, pixels);
    };
    std::mt19937 random(1);
    for (const auto& [name, scans] : photos) {
        std::ifstream file(Fixture(name), std::ios::binary);
        const std::string photo{std::istreambuf_iterator<char>(file), {}};
        const auto length = [&](size_t at) {
            return uint8_t(photo[at]) << 8 | uint8_t(photo[at + 1]);
        };
        ASSERT_TRUE(decodes(photo)) << testing::PrintToString(name);
        // Entropy data has no marker in it: a scan header is found by its marker alone.
        size_t needed = 0;
        for (int i = 0; i < scans; ++i) needed = photo.find("\xFF\xDA", needed) + 2;
        needed += length(needed);
        for (size_t size = 0; size < photo.size(); ++size) {
            ASSERT_EQ(decodes(photo.substr(0, size)), size >= needed) << size;
        }
        for (int n = 0; n < 2000; ++n) {
            std::string damaged = photo;
            for (int i = 0; i <= n % 4; ++i) damaged[random() % photo.size()] = char(random());
            decodes(damaged);
        }
        for (size_t at = 2, marker = 0; marker != 0xDA; at += 2 + length(at + 2)) {
            marker = uint8_t(photo[at + 1]);
            for (const int wrong : {0, 1, 2, length(at + 2) - 1, length(at + 2) + 1, 0xFFFF}) {
                std::string damaged = photo;
                damaged[at + 2] = char(wrong >> 8);
                damaged[at + 3] = char(wrong);
                decodes(damaged);
            }
            for (int i = 0; marker == 0xC4 && i < 17; ++i) {
                for (const char wrong : {'\0', '\1', '\x10', '\x11', '\xFF'}) {
                    std::string damaged = photo;
                    damaged[at + 4 + i] = i ? char(damaged[at + 4 + i] + wrong) : wrong;
                    decodes(damaged);
                }
            }
        }
    }
    VirtualFree(pages, 0, MEM_RELEASE);
}
