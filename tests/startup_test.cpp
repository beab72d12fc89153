#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "window/main_window.h"
#include "window/startup.h"

namespace {

// What the copy started for an argument reads back from its own command line.
TEST(QuoteArgument, SurvivesTheCommandLineSplitterUnchanged) {
    const std::wstring arguments[] = {
        L"plain.png",
        L"with space.png",
        L"C:\\dir with space\\",
        L"ends\\\\",
        L"a\\\"b",
        L"\"quoted\"",
        L"tab\there",
        L"",
        L"\\\\server\\x",
        L"\x4e2d\x6587 é.png",
        std::wstring(300, L'x') + L".png",
    };
    for (const std::wstring& argument : arguments) {
        const std::wstring line = L"glim.exe " + QuoteArgument(argument);
        int count = 0;
        LPWSTR* parsed = CommandLineToArgvW(line.c_str(), &count);
        ASSERT_EQ(count, 2) << line;
        EXPECT_EQ(parsed[1], argument) << line;
        LocalFree(parsed);
    }
    EXPECT_EQ(QuoteArgument(L"a b.png"), L"\"a b.png\"");
}

TEST(ComputeInitialSize, HalvesLargeImagesAndShowsSmallOnesAtActualSize) {
    const struct {
        int imageWidth, imageHeight, screenWidth, screenHeight;
        InitialSize expected;
    } cases[] = {
        {100, 60, 1920, 1080, {128, 128, true}},
        {100, 600, 800, 600, {128, 300, false}},
        {900, 700, 800, 600, {450, 350, false}},
        {640, 400, 1280, 1024, {640, 400, false}},
        {127, 300, 1280, 1024, {128, 300, false}},
        {4000, 100, 1280, 1024, {1000, 128, false}},
        {0, 0, 1280, 1024, {128, 128, true}},
        // A screen smaller than the margin still ends.
        {50, 50, 100, 100, {128, 128, true}},
    };
    for (const auto& c : cases) {
        const InitialSize size =
            ComputeInitialSize(c.imageWidth, c.imageHeight, c.screenWidth, c.screenHeight);
        EXPECT_EQ(size.clientWidth, c.expected.clientWidth) << c.imageWidth << "x" << c.imageHeight;
        EXPECT_EQ(size.clientHeight, c.expected.clientHeight);
        EXPECT_EQ(size.actualSize, c.expected.actualSize);
    }
}

}  // namespace
