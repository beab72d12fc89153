#include <gtest/gtest.h>

#include <climits>
#include <limits>

#include "core/geometry.h"

namespace {

constexpr float kInfinity = std::numeric_limits<float>::infinity();

TEST(ComputePlacement, PutsTheImageWhereTheUserExpectsIt) {
    const struct {
        int iw, ih, cw, ch;
        bool fit;
        float zoom;
        int panX, panY;
        Placement expected;
    } cases[] = {
        // Fit mode: the relatively taller image fills the height, the wider one the width;
        // equal aspects fill the height; small images are enlarged; zoom and pan are ignored.
        {400, 300, 800, 400, true, 1, 0, 0, {134, 0, 533, 400}},
        {400, 100, 800, 400, true, 1, 0, 0, {0, 100, 800, 200}},
        {200, 100, 400, 200, true, 1, 0, 0, {0, 0, 400, 200}},
        {10, 10, 300, 200, true, 8, 50, -30, {50, 0, 200, 200}},
        {50, 12, 800, 600, true, 1, 0, 0, {0, 204, 800, 192}},  // double precision gives 191
        {5, 3, 1, 1, true, 1, 0, 0, {0, 0, 1, 0}},
        // Zoom mode: centred on the integer halves, pan in client pixels, truncation toward
        // zero (trunc(-2.5) is -2), negative positions kept.
        {101, 101, 200, 200, false, 1, 0, 0, {50, 50, 101, 101}},
        {300, 200, 300, 200, false, 0.5f, 10, 0, {65, 50, 150, 100}},
        {20, 20, 200, 200, false, 4, 10, -10, {50, 70, 80, 80}},
        {10, 10, 100, 100, false, 1.5f, 45, 0, {-2, 42, 15, 15}},
        {4000, 3000, 100, 100, false, 1, 0, 0, {-1950, -1450, 4000, 3000}},
        {100, 100, 200, 200, false, 0.001f, 0, 0, {99, 99, 0, 0}},
        // Out of the 32-bit range (2^128 is infinity in a float): the most negative value.
        {100, 100, 200, 200, false, kInfinity, 0, 0, {INT_MIN, INT_MIN, INT_MIN, INT_MIN}},
        {1000, 10, 200, 200, false, 1e7f, 0, 0, {INT_MIN, -49999900, INT_MIN, 100000000}},
        // A minimized client or an image without pixels draws nothing.
        {100, 100, 0, 0, true, 1, 0, 0, {0, 0, 0, 0}},
        {100, 100, 300, 0, false, 1, 0, 0, {0, 0, 0, 0}},
        {0, 50, 300, 200, false, 2, 0, 0, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        AppState state;
        state.imageWidth = c.iw, state.imageHeight = c.ih;
        state.clientWidth = c.cw, state.clientHeight = c.ch;
        state.fitToWindow = c.fit, state.zoom = c.zoom;
        state.panX = c.panX, state.panY = c.panY;
        const Placement p = ComputePlacement(state);
        SCOPED_TRACE(testing::Message()
                     << c.iw << "x" << c.ih << " in " << c.cw << "x" << c.ch << " zoom " << c.zoom);
        EXPECT_EQ(p.x, c.expected.x);
        EXPECT_EQ(p.y, c.expected.y);
        EXPECT_EQ(p.width, c.expected.width);
        EXPECT_EQ(p.height, c.expected.height);
    }
}

TEST(FitZoomFactor, IsTheZoomThatReproducesTheFittedSize) {
    const struct {
        int iw, ih, cw, ch;
        float zoom;
    } cases[] = {{1000, 500, 500, 500, 0.5f},
                 {250, 2000, 500, 500, 0.25f},
                 {100, 100, 500, 400, 4.0f},
                 {100, 100, 0, 0, 1.0f}};
    for (const auto& c : cases) {
        AppState state;
        state.imageWidth = c.iw, state.imageHeight = c.ih;
        state.clientWidth = c.cw, state.clientHeight = c.ch;
        EXPECT_EQ(FitZoomFactor(state), c.zoom) << c.iw << "x" << c.ih;
    }
}

TEST(ResolveBackgroundColor, GivesTheGrayLevelsAndTheLiveSystemColour) {
    AppState state;
    const unsigned grays[] = {0, 128, 255};
    for (const int index : {0, 1, 2}) {
        state.backgroundIndex = index;
        const unsigned gray = grays[index];
        EXPECT_EQ(ToOpaqueArgb(ResolveBackgroundColor(state)), 0xFF000000u | gray * 0x010101u);
        EXPECT_EQ(ToColorref(ResolveBackgroundColor(state)), gray * 0x010101u);
    }
    // An asymmetric system colour shows whether the bytes are swapped into ARGB order.
    const int element = COLOR_BTNFACE;
    const COLORREF original = GetSysColor(element), custom = RGB(0x10, 0x20, 0x30);
    ASSERT_TRUE(SetSysColors(1, &element, &custom));
    state.backgroundIndex = -1;
    const Rgb face = ResolveBackgroundColor(state);
    SetSysColors(1, &element, &original);
    EXPECT_EQ(ToOpaqueArgb(face), 0xFF102030u);
    EXPECT_EQ(ToColorref(face), 0x00302010u);
}

}  // namespace
