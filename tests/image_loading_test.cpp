#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "imaging/image_loading.h"
#include "test_support.h"

namespace {

struct DecodeCase {
    const wchar_t* name;
    int width, height;
    const GUID* dimension;
    int frameCount;
    std::vector<int> delaysMs;
};

class DecodeTest : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, ReadsSizeFramesAndDelaysTheSameEveryTime) {
    const DecodeCase& c = GetParam();
    const std::wstring path = FixturePath(c.name);
    SCOPED_TRACE(path);
    ResetApp();
    for (int attempt = 0; attempt < 2; ++attempt) {
        ASSERT_TRUE(LoadImageFile(path.c_str()));
        EXPECT_EQ(app.currentPath, path);
        EXPECT_EQ(app.imageWidth, c.width);
        EXPECT_EQ(app.imageHeight, c.height);
        EXPECT_TRUE(IsEqualGUID(app.frameDimension, *c.dimension));
        EXPECT_EQ(app.frameCount, c.frameCount);
        EXPECT_EQ(app.frameDelaysMs, c.delaysMs);
    }
}

using Gdiplus::FrameDimensionPage;
using Gdiplus::FrameDimensionTime;

INSTANTIATE_TEST_SUITE_P(
    ImageLoading, DecodeTest,
    testing::Values(DecodeCase{L"red_40x30.png", 40, 30, &FrameDimensionPage, 1, {}},
                    DecodeCase{L"green_101x51.bmp", 101, 51, &FrameDimensionPage, 1, {}},
                    DecodeCase{L"gray_64x48.jpg", 64, 48, &FrameDimensionPage, 1, {}},
                    DecodeCase{L"blue_20x10.gif", 20, 10, &FrameDimensionTime, 1, {}},
                    // An explicit zero delay stays zero.
                    DecodeCase{L"anim3_16x16.gif", 16, 16, &FrameDimensionTime, 3, {100, 0, 50}},
                    DecodeCase{L"anim10_8x8.gif", 8, 8, &FrameDimensionTime, 10,
                               std::vector<int>(10, 50)},
                    // Pages carry no delay item, so every page gets the default.
                    DecodeCase{L"pages2_16x16.tif", 16, 16, &FrameDimensionPage, 2, {100, 100}}));

// A path to a decodable picture, padded to length with "." steps and a doubled separator.
std::wstring LongPath(size_t length) {
    const std::wstring folder = FixturePath(L""), name = L"red_40x30.png";
    std::wstring padding;
    while (folder.size() + padding.size() + name.size() + 2 <= length) padding += L".\\";
    if (folder.size() + padding.size() + name.size() < length) padding += L'\\';
    return folder + padding + name;
}

bool HeldOpen(const std::wstring& path) {
    const HANDLE file =
        CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return true;
    CloseHandle(file);
    return false;
}

TEST(ImageLoading, FailureReleasesThePictureButKeepsPathAndSize) {
    // The padded path decodes when short enough, so the longer ones fail for length alone.
    ResetApp();
    ASSERT_TRUE(LoadImageFile(LongPath(MAX_PATH - 1).c_str()));
    const std::wstring previous = FixturePath(L"anim3_16x16.gif");
    const std::wstring failures[] = {FixturePath(L"not_an_image.png"),
                                     FixturePath(L"truncated.png"),
                                     FixturePath(L"empty.jpg"),
                                     FixturePath(L"missing.png"),
                                     LongPath(MAX_PATH),
                                     LongPath(4 * MAX_PATH)};
    for (const std::wstring& path : failures) {
        SCOPED_TRACE(testing::Message() << path.size() << " characters: " << path);
        ResetApp();
        ASSERT_TRUE(LoadImageFile(previous.c_str()));
        ASSERT_TRUE(HeldOpen(previous));
        EXPECT_FALSE(LoadImageFile(path.c_str()));
        EXPECT_FALSE(HeldOpen(previous));
        // A failed decode leaves at most a wrapper without a native image, which has no size.
        EXPECT_TRUE(!app.image || app.image->GetWidth() == 0);
        EXPECT_TRUE(app.frameDelaysMs.empty());
        EXPECT_EQ(app.currentPath, previous);
        EXPECT_EQ(app.imageWidth, 16);
        EXPECT_EQ(app.imageHeight, 16);
    }
}

// A BMP header with a palette and a few bytes of pixels, claiming width x height.
std::string IndexedBitmap(int32_t width, int32_t height, uint16_t bits) {
    const uint32_t palette = 4u << bits, offset = 14 + 40 + palette;
    std::string bytes(offset + 64, '\0');
    auto put = [&](size_t at, auto value) { std::memcpy(&bytes[at], &value, sizeof value); };
    put(0, uint16_t('B' | 'M' << 8)), put(2, uint32_t(bytes.size())), put(10, offset);
    put(14, uint32_t(40)), put(18, width), put(22, height), put(26, uint16_t(1)), put(28, bits);
    return bytes;
}

// Wine's decoder sizes such a pixel array in 32 bits and runs off the small buffer that gives.
TEST(ImageLoading, BitmapsTooLargeForAnyProcessAreRefusedUnread) {
    TempFolder folder;
    const struct {
        const wchar_t* name;
        int32_t width, height;
        uint16_t bits;
    } cases[] = {{L"square.bmp", 65536, 65536, 8},
                 {L"top-down.bmp", 65536, -65536, 8},
                 {L"wide.bmp", 1 << 20, 1 << 12, 8},
                 {L"one-bit.bmp", 1 << 20, 1 << 15, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.name)));
        ResetApp();
        const auto file = folder.Add(c.name, IndexedBitmap(c.width, c.height, c.bits));
        EXPECT_FALSE(LoadImageFile(file.c_str()));
    }
}

TEST(ImageLoading, DelayToMillisecondsScalesHundredthsAndSaturates) {
    const std::pair<long, int> cases[] = {{7, 70},
                                          {-7, -70},
                                          {214748364, 2147483640},
                                          {214748365, INT_MAX},
                                          {-214748365, INT_MIN},
                                          {300000000, INT_MAX},
                                          {-300000000, INT_MIN}};
    for (const auto& [hundredths, ms] : cases) {
        EXPECT_EQ(DelayToMilliseconds(hundredths), ms) << hundredths;
    }
}

}  // namespace
