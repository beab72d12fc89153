// The scaler beside a plain reference of the same arithmetic, its strips beside the whole view,
// and its unsmoothed views beside GDI+'s.
#include <climits>
#include <random>

#include "imaging/pixels/view.h"
#include "imaging/pixels/scaler.h"
#include "support.h"

namespace {

// Random premultiplied pixels, no channel above alpha, and their reductions.
Reductions RandomPicture(int width, int height, bool alpha) {
    static std::mt19937 random(7);
    Reductions levels(1);
    levels[0] = AllocatePixels(width, height);
    for (size_t i = 0; i < size_t(width) * height; ++i) {
        const uint32_t a = alpha ? random() % 256 : 255;
        levels[0].bits[i] =
            a << 24 | random() % (a + 1) << 16 | random() % (a + 1) << 8 | random() % (a + 1);
    }
    EXPECT_TRUE(MakeReductions(levels));
    return levels;
}

// The view `width` x `height` rendered by one call for `region`, or for all of it.
std::vector<DWORD> Render(const Reductions& levels, const Placement& rect, bool smooth,
                          uint32_t background, int width, int height, Region region = {}) {
    if (region.width == 0) region = {0, 0, width, height};
    std::vector<uint32_t> view(size_t(width) * height, 0x12345678);
    EXPECT_TRUE(ScaleRegion(levels, rect, smooth, background, view.data(), width, region));
    return std::vector<DWORD>(view.begin(), view.end());
}

// The source pixels that output pixel t of `size` reads on an axis of `source` pixels, and their
// weights (16384 is one).
std::vector<std::pair<int64_t, int64_t>> TapsOf(int64_t t, int64_t size, int64_t source,
                                                bool smooth) {
    if (!smooth) return {{std::min((2 * t * source + size) / (2 * size), source - 1), 16384}};
    if (size > source) {
        // The two whose centres enclose its centre, the edges clamped.
        const int64_t at = (2 * t + 1) * source - size, left = at < 0 ? -1 : at / (2 * size);
        const int64_t right = (at - left * 2 * size) * 16384 / (2 * size);
        if (left < 0 || left == source - 1) return {{std::max<int64_t>(left, 0), 16384}};
        return {{left, 16384 - right}, {left + 1, right}};
    }
    // Each by the part of it covered, the running total rounded so that they add up to one.
    std::vector<std::pair<int64_t, int64_t>> taps;
    int64_t covered = 0, given = 0;
    for (int64_t i = 0; i < source; ++i) {
        const int64_t part =
            std::min((t + 1) * source, (i + 1) * size) - std::max(t * source, i * size);
        if (part <= 0) continue;
        covered += part;
        const int64_t total = (covered * 16384 + source / 2) / source;
        taps.push_back({i, total - given});
        given = total;
    }
    return taps;
}

// The view one pixel at a time: rows weighted first, kept with 7 bits more, then columns; then
// the background under what the alpha leaves.
std::vector<DWORD> ReferenceView(const Reductions& levels, const Placement& rect, bool smooth,
                                 uint32_t background, int width, int height) {
    std::vector<DWORD> view(size_t(width) * height, background);
    if (rect.width <= 0 || rect.height <= 0) return view;
    size_t k = 0;
    while (smooth && k + 1 < levels.size() && levels[k + 1].width >= rect.width &&
           levels[k + 1].height >= rect.height)
        ++k;
    const Pixels& level = levels[k];
    for (int y = std::max(rect.y, 0); y < std::min<int64_t>(int64_t(rect.y) + rect.height, height);
         ++y) {
        const auto rows = TapsOf(int64_t(y) - rect.y, rect.height, level.height, smooth);
        for (int x = std::max(rect.x, 0);
             x < std::min<int64_t>(int64_t(rect.x) + rect.width, width); ++x) {
            const auto columns = TapsOf(int64_t(x) - rect.x, rect.width, level.width, smooth);
            uint32_t pixel = 0, alpha = 0;
            for (int shift = 24; shift >= 0; shift -= 8) {
                int64_t sum = 1 << 20;
                for (const auto& [column, columnWeight] : columns) {
                    int64_t mid = 64;
                    for (const auto& [row, rowWeight] : rows)
                        mid += rowWeight * (level.bits[row * level.width + column] >> shift & 255);
                    sum += columnWeight * (mid >> 7);
                }
                alpha = shift == 24 ? uint32_t(sum >> 21) : alpha;
                const uint32_t under = ((background >> shift & 255) * (255 - alpha) + 127) / 255;
                pixel |= (uint32_t(sum >> 21) + under) << shift;
            }
            view[size_t(y) * width + x] = pixel;
        }
    }
    return view;
}

// One channel of the exact average of the pixels under pixel x, y of the placement, in floating
// point: each pixel by the part of it covered.
double AreaAverage(const Pixels& picture, const Placement& rect, int x, int y, int shift) {
    const double sx = double(picture.width) / rect.width, sy = double(picture.height) / rect.height;
    double sum = 0;
    for (int j = int(y * sy); j < std::min((y + 1) * sy, double(picture.height)); ++j) {
        const double down = std::min((y + 1) * sy, j + 1.0) - std::max(y * sy, double(j));
        for (int i = int(x * sx); i < std::min((x + 1) * sx, double(picture.width)); ++i) {
            const double across = std::min((x + 1) * sx, i + 1.0) - std::max(x * sx, double(i));
            sum += across * down * (picture.bits[size_t(j) * picture.width + i] >> shift & 255);
        }
    }
    return sum / (sx * sy);
}

}  // namespace

// Each level halves the one before, 2 x 2 pixels averaged and rounded, down to the first that is
// at most 32 pixels either way; pixels a 32-bit process cannot address are refused.
TEST(Scaler, ReductionsAverageTwoByTwoPixels) {
    // 4 GB and 256 kB: a count in 32 bits would wrap to the small part.
    EXPECT_TRUE(sizeof(void*) == 8 || !AllocatePixels(65536, 16385).bits);
    const Reductions levels = RandomPicture(301, 203, true);
    ASSERT_EQ(levels.size(), 4u);
    EXPECT_EQ(std::pair(levels[3].width, levels[3].height), std::pair(37, 25));
    for (size_t k = 1; k < levels.size(); ++k) {
        const Pixels &from = levels[k - 1], &to = levels[k];
        ASSERT_EQ(std::pair(to.width, to.height), std::pair(from.width / 2, from.height / 2));
        for (int i = 0; i < to.width * to.height; ++i) {
            const uint32_t* a =
                &from.bits[size_t(i / to.width * 2) * from.width + i % to.width * 2];
            for (int shift = 0; shift < 32; shift += 8) {
                const auto at = [&](size_t j) { return a[j] >> shift & 255; };
                ASSERT_EQ(to.bits[i] >> shift & 255,
                          (at(0) + at(1) + at(from.width) + at(from.width + 1) + 2) / 4);
            }
        }
    }
}

// Scales from 1/37 to 16, each axis alone too, at odd places in an odd-sized view.
TEST(Scaler, EveryViewMatchesThePlainReference) {
    for (const bool alpha : {false, true}) {
        const Reductions levels = RandomPicture(alpha ? 301 : 97, alpha ? 203 : 61, alpha);
        const int w = levels[0].width, h = levels[0].height;
        std::vector<Placement> rects = {{0, 0, 0, 9},
                                        {5, 5, -3, 9},
                                        {INT_MIN, INT_MIN, INT_MIN, INT_MIN},
                                        {-2000000000, -9, 2100000000, 77}};
        const double scales[][2] = {
            {1 / 37.0, 1 / 37.0}, {0.3, 0.3}, {0.5, 0.5}, {0.71, 0.71}, {1, 1},
            {1.37, 1.37},         {3.3, 3.3}, {16, 16},   {3, 0.25},    {0.4, 1.9}};
        for (const auto& [sx, sy] : scales) {
            const int rw = int(w * sx), rh = int(h * sy);
            for (const auto& [x, y] : {std::pair(7, 3), {-13, -8}, {41 - rw / 2, 28 - rh / 2}})
                rects.push_back({x, y, rw, rh});
        }
        for (const Placement& rect : rects) {
            for (const uint32_t background : {0xFF3070B0u, 0u}) {
                for (const bool smooth : {true, false}) {
                    ASSERT_EQ(Render(levels, rect, smooth, background, 83, 57),
                              ReferenceView(levels, rect, smooth, background, 83, 57))
                        << rect.x << "," << rect.y << " " << rect.width << "x" << rect.height
                        << (smooth ? " smooth" : " nearest") << " over " << background;
                }
            }
        }
    }
}

// Without smoothing, an opaque picture shows as GDI+'s nearest-neighbour draw shows it. GDI+ maps
// in single precision: at a scale not a whole number, on a pixel whose edge falls halfway between
// two source pixels or on the picture's first edge, it goes either way (or draws nothing).
TEST(Scaler, UnsmoothedViewsMatchGdiplus) {
    const Reductions levels = RandomPicture(97, 61, false);
    Gdiplus::Bitmap picture(97, 61, 97 * 4, PixelFormat32bppPARGB,
                            reinterpret_cast<BYTE*>(levels[0].bits.get()));
    const auto unsure = [](int64_t t, int64_t size, int64_t source) {
        return size % source != 0 && (t == 0 || 2 * t * source % (2 * size) == size);
    };
    // fit, zoom, pan x and y
    const std::tuple<bool, float, int, int> steps[] = {
        {true, 1, 0, 0},    {false, 1, 0, 0},  {false, 2, 0, 0},    {false, 2, 8, 0},
        {false, 2, 408, 0}, {false, 2, 11, 3}, {false, 0.5f, 0, 0}, {false, 0.5f, -9, 2},
        {false, 8, 0, 0},   {false, 3, 0, 0},  {false, 3, 8, 0},    {false, 1.5f, -5, 7}};
    for (const SIZE client : {SIZE{151, 91}, SIZE{40, 30}, SIZE{1, 1}}) {
        for (const auto& [fit, zoom, panX, panY] : steps) {
            AppState state;
            state.view.clientWidth = client.cx, state.view.clientHeight = client.cy;
            state.onShow.picture.imageWidth = 97, state.onShow.picture.imageHeight = 61;
            state.view.fitToWindow = fit, state.view.zoom = zoom, state.view.panX = panX,
            state.view.panY = panY;
            const Placement rect = ComputePlacement(state.view, state.onShow.picture);
            Gdiplus::Bitmap buffer(client.cx, client.cy, PixelFormat32bppARGB);
            Gdiplus::Graphics graphics(&buffer);
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
            graphics.Clear(Gdiplus::Color(0xFF405060));
            graphics.DrawImage(&picture, rect.x, rect.y, rect.width, rect.height);
            auto want = BitmapPixels(buffer);
            auto got = Render(levels, rect, false, 0xFF405060, client.cx, client.cy);
            for (int i = 0; i < client.cx * client.cy; ++i) {
                if (unsure(i % client.cx - rect.x, rect.width, 97) ||
                    unsure(i / client.cx - rect.y, rect.height, 61))
                    want[i] = got[i] = 0;
            }
            EXPECT_EQ(got, want) << client.cx << "x" << client.cy << ", zoom " << zoom << " at "
                                 << rect.x << "," << rect.y;
        }
    }
}

// Any strip of a view rendered alone is that strip of the whole view, and nothing beside it
// changes: at the fit, twice the fit and zoom 1.5 of a picture larger than the view.
TEST(Scaler, StripsEqualTheWholeView) {
    const Reductions levels = RandomPicture(1203, 905, true);
    const int width = 401, height = 301;
    const Region strips[] = {{0, 37, 401, 8},  {61, 0, 8, 301},  {13, 29, 91, 33},
                             {400, 300, 1, 1}, {-5, -3, 20, 10}, {0, 0, 401, 150}};
    for (const Placement& rect :
         {Placement{0, 0, 400, 301}, {-200, -151, 801, 602}, {-701, -528, 1804, 1357}}) {
        for (const bool smooth : {true, false}) {
            const auto whole = Render(levels, rect, smooth, 0xFF808080, width, height);
            for (const Region& strip : strips) {
                auto want = std::vector<DWORD>(whole.size(), 0x12345678);
                for (int y = std::max(strip.y, 0); y < strip.y + strip.height; ++y) {
                    for (int x = std::max(strip.x, 0); x < strip.x + strip.width; ++x)
                        want[y * width + x] = whole[y * width + x];
                }
                EXPECT_EQ(Render(levels, rect, smooth, 0xFF808080, width, height, strip), want)
                    << rect.width << " wide, " << strip.x << "," << strip.y << " " << strip.width
                    << "x" << strip.height << (smooth ? " smooth" : " nearest");
            }
        }
    }
}

// What any scaling keeps, worked out without the scaler's weights: a flat picture stays flat and
// a ramp never falls, at every scale, smoothed or not; a smoothed view no larger than the picture
// is within one level of the exact area average, so fine detail turns gray, not into stripes (on
// 8 x 8 blocks of one colour, which the reductions keep as they are).
TEST(Scaler, ViewsKeepFlatnessOrderAndAreaAverages) {
    const int w = 256, h = 160;
    const Reductions colours = RandomPicture(w / 8, h / 8, true);
    Reductions flat(1), ramp(1), blocks(1);
    for (Reductions* levels : {&flat, &ramp, &blocks}) (*levels)[0] = AllocatePixels(w, h);
    for (int i = 0; i < w * h; ++i) {
        const int x = i % w, y = i / w;
        flat[0].bits[i] = 0x80402010;
        ramp[0].bits[i] = 0xFF000000 | uint32_t((x + y) * 255 / (w + h - 2)) * 0x010101;
        blocks[0].bits[i] = colours[0].bits[y / 8 * (w / 8) + x / 8];
    }
    for (Reductions* levels : {&flat, &ramp, &blocks}) ASSERT_TRUE(MakeReductions(*levels));
    const double scales[][2] = {{1 / 8.0, 1 / 8.0}, {0.3, 0.3}, {0.71, 0.71}, {1, 1},
                                {1, 0.37},          {0.9, 0.2}, {1.37, 1.37}, {3, 0.25},
                                {0.13, 4.1}};
    for (const auto& [sx, sy] : scales) {
        const Placement rect = {3, 2, int(w * sx), int(h * sy)};
        const int width = rect.width + 6, height = rect.height + 4;
        for (const bool smooth : {true, false}) {
            SCOPED_TRACE(testing::Message() << rect.width << "x" << rect.height << " " << smooth);
            const auto flatView = Render(flat, rect, smooth, 0, width, height);
            const auto rampView = Render(ramp, rect, smooth, 0, width, height);
            const auto area = Render(blocks, rect, smooth, 0, width, height);
            for (int y = rect.y; y < rect.y + rect.height; ++y) {
                for (int x = rect.x; x < rect.x + rect.width; ++x) {
                    const size_t at = size_t(y) * width + x;
                    ASSERT_TRUE(flatView[at] == 0x80402010 &&
                                (rampView[at] & 255) >= (rampView[at - 1] & 255) &&
                                (rampView[at] & 255) >= (rampView[at - width] & 255))
                        << x << "," << y;
                    for (int shift = 0; smooth && sx <= 1 && sy <= 1 && shift < 32; shift += 8) {
                        const double want =
                            AreaAverage(blocks[0], rect, x - rect.x, y - rect.y, shift);
                        ASSERT_NEAR(area[at] >> shift & 255, want, 1) << x << "," << y;
                    }
                }
            }
        }
    }
}

// Rows widened straight into their upright places, band by band, are the rows widened whole and
// then turned upright, for every orientation; wider than a tile, so that tiles meet.
TEST(Scaler, WideningUprightEqualsWideningThenTurning) {
    constexpr int kWidth = 70, kHeight = 9, kBand = 4;
    std::mt19937 random(3);
    std::vector<BYTE> bgr(kWidth * 3 * kHeight);
    for (BYTE& value : bgr) value = BYTE(random());
    const auto widen = [&](int orientation) {
        Pixels upright = AllocateUpright(kWidth, kHeight, orientation);
        for (int y = 0; y < kHeight; y += kBand) {
            WidenUpright(bgr.data() + y * kWidth * 3, kWidth * 3, y, std::min(kBand, kHeight - y),
                         orientation, upright);
        }
        return upright;
    };
    // The last pixel, blue, green and red bytes in that order.
    EXPECT_EQ(widen(1).bits[kWidth * kHeight - 1],
              0xFF000000u | bgr.end()[-1] << 16 | bgr.end()[-2] << 8 | bgr.end()[-3]);
    for (int orientation = 2; orientation <= 8; ++orientation) {
        Pixels turned = widen(1);
        ASSERT_TRUE(TurnUpright(turned, orientation));
        const Pixels upright = widen(orientation);
        ASSERT_EQ(std::pair(upright.width, upright.height), std::pair(turned.width, turned.height));
        EXPECT_TRUE(std::equal(upright.bits.get(), upright.bits.get() + kWidth * kHeight,
                               turned.bits.get()))
            << orientation;
    }
}
