// The arithmetic that needs no window, case by case.
#include <climits>

#include "core/geometry.h"
#include "support.h"
#include "window/startup.h"

namespace {

TEST(Tables, PlacementPutsThePictureWhereTheUserExpectsIt) {
    const struct {
        int iw, ih, cw, ch;
        bool fit;
        float zoom;
        int panX, panY;
        std::vector<int> want;  // x, y, width, height
    } cases[] = {
        // Fitted, whatever the zoom and pan: the taller picture fills the height, the wider one
        // the width.
        {400, 300, 800, 400, true, 8, 50, -30, {134, 0, 533, 400}},
        {50, 12, 800, 600, true, 1, 0, 0, {0, 204, 800, 192}},  // 191 in double precision
        // Zoomed: centred on the integer halves, panned, truncated toward zero.
        {300, 200, 300, 200, false, 0.5f, 10, 0, {65, 50, 150, 100}},
        {10, 11, 100, 100, false, 1.5f, 45, 0, {-2, 42, 15, 16}},
        // Beyond 32 bits, the most negative value; without a client area, nothing.
        {1000, 10, 200, 200, false, 1e7f, 0, 0, {INT_MIN, -49999900, INT_MIN, 100000000}},
        {100, 100, 300, 0, true, 1, 0, 0, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        AppState state;
        state.imageWidth = c.iw, state.imageHeight = c.ih;
        state.clientWidth = c.cw, state.clientHeight = c.ch;
        state.fitToWindow = c.fit, state.zoom = c.zoom, state.panX = c.panX, state.panY = c.panY;
        const Placement p = ComputePlacement(state);
        EXPECT_EQ(std::vector<int>({p.x, p.y, p.width, p.height}), c.want) << c.iw << "x" << c.ih;
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

}  // namespace
