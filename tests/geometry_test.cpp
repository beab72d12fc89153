#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

#include "core/geometry.h"

namespace {

struct PlacementCase {
    int imageWidth, imageHeight, clientWidth, clientHeight;
    bool fit;
    float zoom;
    int panX, panY;
    Placement expected;
};

void PrintTo(const PlacementCase& c, std::ostream* os) {
    *os << c.imageWidth << "x" << c.imageHeight << " in " << c.clientWidth << "x" << c.clientHeight
        << (c.fit ? " fit" : " zoom ") << c.zoom << " pan " << c.panX << "," << c.panY;
}

class PlacementTest : public testing::TestWithParam<PlacementCase> {
protected:
    void SetUp() override {
        app = AppState{};
    }
};

TEST_P(PlacementTest, PutsTheImageWhereTheUserExpectsIt) {
    const PlacementCase& c = GetParam();
    app.imageWidth = c.imageWidth;
    app.imageHeight = c.imageHeight;
    app.clientWidth = c.clientWidth;
    app.clientHeight = c.clientHeight;
    app.fitToWindow = c.fit;
    app.zoom = c.zoom;
    app.panX = c.panX;
    app.panY = c.panY;
    const Placement p = ComputePlacement(app);
    EXPECT_EQ(p.x, c.expected.x);
    EXPECT_EQ(p.y, c.expected.y);
    EXPECT_EQ(p.width, c.expected.width);
    EXPECT_EQ(p.height, c.expected.height);
}

const float kInfinity = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    FitMode, PlacementTest,
    testing::Values(
        // Relatively taller image: the height fills, centred horizontally.
        PlacementCase{400, 300, 800, 400, true, 1.0f, 0, 0, {134, 0, 533, 400}},
        // Relatively wider image: the width fills, centred vertically.
        PlacementCase{400, 100, 800, 400, true, 1.0f, 0, 0, {0, 100, 800, 200}},
        // Equal aspects take the height-fills branch.
        PlacementCase{200, 100, 400, 200, true, 1.0f, 0, 0, {0, 0, 400, 200}},
        // Small images are enlarged to the window.
        PlacementCase{10, 10, 300, 200, true, 1.0f, 0, 0, {50, 0, 200, 200}},
        // Extended precision: double gives height 191 here.
        PlacementCase{50, 12, 800, 600, true, 1.0f, 0, 0, {0, 204, 800, 192}},
        // Zoom and pan do not move a fitted image.
        PlacementCase{400, 300, 800, 400, true, 8.0f, 50, -30, {134, 0, 533, 400}},
        PlacementCase{5, 3, 1, 1, true, 1.0f, 0, 0, {0, 0, 1, 0}}));

INSTANTIATE_TEST_SUITE_P(
    ZoomMode, PlacementTest,
    testing::Values(
        // Odd width: centred on the integer halves.
        PlacementCase{101, 101, 200, 200, false, 1.0f, 0, 0, {50, 50, 101, 101}},
        PlacementCase{300, 200, 300, 200, false, 0.5f, 10, 0, {65, 50, 150, 100}},
        // Pan is in client pixels, not scaled by the zoom.
        PlacementCase{20, 20, 200, 200, false, 4.0f, 10, -10, {50, 70, 80, 80}},
        // Negative positions stay negative and truncate toward zero: trunc(-2.5) is -2.
        PlacementCase{10, 10, 100, 100, false, 1.5f, 45, 0, {-2, 42, 15, 15}},
        PlacementCase{4000, 3000, 100, 100, false, 1.0f, 0, 0, {-1950, -1450, 4000, 3000}},
        // 2^128 is infinity in a float: every value leaves the 32-bit range.
        PlacementCase{
            100, 100, 200, 200, false, kInfinity, 0, 0, {INT_MIN, INT_MIN, INT_MIN, INT_MIN}},
        PlacementCase{
            1000, 10, 200, 200, false, 1e7f, 0, 0, {INT_MIN, -49999900, INT_MIN, 100000000}},
        // After enough zoom-out steps the zoom is 0: nothing to draw, centred.
        PlacementCase{100, 100, 200, 200, false, 0.0f, 0, 0, {100, 100, 0, 0}},
        PlacementCase{100, 100, 200, 200, false, 0.001f, 0, 0, {99, 99, 0, 0}}));

INSTANTIATE_TEST_SUITE_P(
    ZeroSizes, PlacementTest,
    testing::Values(PlacementCase{100, 100, 0, 0, true, 1.0f, 0, 0, {0, 0, 0, 0}},
                    PlacementCase{100, 100, 0, 0, false, 1.0f, 0, 0, {0, 0, 0, 0}},
                    PlacementCase{100, 100, 300, 0, true, 1.0f, 0, 0, {0, 0, 0, 0}},
                    PlacementCase{0, 0, 300, 200, true, 1.0f, 0, 0, {0, 0, 0, 0}},
                    PlacementCase{0, 50, 300, 200, false, 2.0f, 0, 0, {0, 0, 0, 0}}));

TEST(TruncateToInt32, TruncatesTowardZeroAndMapsTheUnrepresentableToTheMostNegative) {
    EXPECT_EQ(TruncateToInt32(-2.5L), -2);
    EXPECT_EQ(TruncateToInt32(2.999L), 2);
    EXPECT_EQ(TruncateToInt32(2147483647.9L), INT_MAX);
    EXPECT_EQ(TruncateToInt32(-2147483648.9L), INT_MIN);
    EXPECT_EQ(TruncateToInt32(2147483648.0L), INT_MIN);
    EXPECT_EQ(TruncateToInt32(-2147483649.0L), INT_MIN);
    EXPECT_EQ(TruncateToInt32(std::numeric_limits<long double>::infinity()), INT_MIN);
    EXPECT_EQ(TruncateToInt32(std::numeric_limits<long double>::quiet_NaN()), INT_MIN);
}

TEST(FitZoomFactor, IsTheZoomThatReproducesTheFittedSize) {
    app = AppState{};
    app.clientWidth = 500;
    app.clientHeight = 500;
    app.imageWidth = 1000;
    app.imageHeight = 500;
    EXPECT_EQ(FitZoomFactor(app), 0.5f);
    app.imageWidth = 250;
    app.imageHeight = 2000;
    EXPECT_EQ(FitZoomFactor(app), 0.25f);
    app.imageWidth = 100;
    app.imageHeight = 100;
    EXPECT_EQ(FitZoomFactor(app), 5.0f);
    app.clientWidth = 0;
    EXPECT_TRUE(std::isfinite(FitZoomFactor(app)));
}

TEST(ResolveBackgroundColor, GivesTheGrayLevelsAndTheLiveSystemColour) {
    app = AppState{};
    const BYTE grays[] = {0, 128, 255};
    for (int index = 0; index < 3; ++index) {
        app.backgroundIndex = index;
        const Rgb color = ResolveBackgroundColor(app);
        EXPECT_EQ(color.red, grays[index]);
        EXPECT_EQ(color.green, grays[index]);
        EXPECT_EQ(color.blue, grays[index]);
        EXPECT_EQ(ToOpaqueArgb(color), 0xFF000000u | grays[index] * 0x010101u);
        EXPECT_EQ(ToColorref(color), grays[index] * 0x010101u);
    }

    // An asymmetric system colour shows whether the bytes are swapped into ARGB order.
    const int element = COLOR_BTNFACE;
    const COLORREF original = GetSysColor(element);
    const COLORREF custom = RGB(0x10, 0x20, 0x30);
    ASSERT_TRUE(SetSysColors(1, &element, &custom));
    app.backgroundIndex = -1;
    const Rgb face = ResolveBackgroundColor(app);
    SetSysColors(1, &element, &original);
    EXPECT_EQ(ToOpaqueArgb(face), 0xFF102030u);
    EXPECT_EQ(ToColorref(face), 0x00302010u);
}

}  // namespace
