// The arithmetic that needs no window, case by case.
#include <climits>

#include "core/geometry.h"
#include "support.h"
#include "window/startup.h"

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
        state.imageWidth = iw, state.imageHeight = ih;
        state.clientWidth = cw, state.clientHeight = ch;
        state.fitToWindow = fit, state.zoom = zoom, state.panX = panX, state.panY = panY;
        const Placement p = ComputePlacement(state);
        EXPECT_EQ(std::vector<int>({p.x, p.y, p.width, p.height}), want) << iw << "x" << ih;
    }
}

// What a copy started for an argument reads back from its own command line.
TEST(Tables, QuotedArgumentsSurviveTheCommandLineSplitter) {
    // clang-format off
    const std::wstring arguments[] = {L"C:\\dir with space\\", L"ends\\\\", L"a\\\"b", L"\"quoted\"",
                                      L"tab\there", L"", L"\x4e2d\x6587 \x00e9.png", std::wstring(300, L'x')};
    // clang-format on
    for (const std::wstring& argument : arguments) {
        int count = 0;
        LPWSTR* parsed =
            CommandLineToArgvW((L"glim.exe " + QuoteArgument(argument)).c_str(), &count);
        ASSERT_EQ(count, 2) << testing::PrintToString(argument);
        EXPECT_EQ(parsed[1], argument);
        LocalFree(parsed);
    }
}
