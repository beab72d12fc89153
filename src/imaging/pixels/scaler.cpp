#include "imaging/pixels/scaler.h"

#include <emmintrin.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <new>

#include "platform/work_pool.h"
#include "platform/platform.h"

namespace {

// Weights are fixed point, one being kOne on each axis; they fit _mm_madd_epi16's signed lanes.
constexpr int kWeightBits = 14;
constexpr int kOne = 1 << kWeightBits;
// Between the passes a channel keeps 7 bits more: 255 << 7 still fits a signed 16-bit lane.
constexpr int kMidBits = 7;
// Below this many output pixels, waking other threads costs more than it saves.
constexpr int64_t kPoolPixels = 1 << 16;

// A zeroed array, or null when memory is short or its bytes cannot be counted in a size_t.
template <class T>
T* NewArray(int64_t count) {
    if (count < 0 || uint64_t(count) > SIZE_MAX / sizeof(T)) return nullptr;
    return new (std::nothrow) T[size_t(count)]();
}

enum class Filter { kNearest, kArea, kBilinear };

// One axis of the placement: output pixel t (counted from the placement's edge) reads `source`
// pixels spread over `size`.
struct Axis {
    int64_t size;
    int64_t source;
    Filter filter;
};

// Taps are written two to a word, the first neighbour in the low half, as _mm_madd_epi16 takes
// them; an odd last tap leaves its partner's weight 0.
void PutWeight(uint32_t* pairs, int64_t tap, int weight) {
    if (tap % 2 == 0) pairs[tap / 2] = uint32_t(weight);
    if (tap % 2 == 1) pairs[tap / 2] |= uint32_t(weight) << 16;
}

// The source pixels under output pixel t, each by the part of it the pixel covers (in units of
// 1/size of a source pixel), rounded so that the weights add up to kOne exactly.
int WeighByArea(const Axis& axis, int64_t t, int& first, uint32_t* pairs) {
    const int64_t low = t * axis.source, high = low + axis.source;
    const int64_t firstTap = low / axis.size, lastTap = (high - 1) / axis.size;
    int64_t covered = 0;
    int given = 0;
    for (int64_t i = firstTap; i <= lastTap; ++i) {
        covered += std::min(high, (i + 1) * axis.size) - std::max(low, i * axis.size);
        const int total = int((covered * kOne + axis.source / 2) / axis.source);
        PutWeight(pairs, i - firstTap, total - given);
        given = total;
    }
    first = int(firstTap);
    return int((lastTap - firstTap + 2) / 2);
}

// The two source pixels whose centres enclose output pixel t's centre, the edges clamped.
int WeighBilinear(const Axis& axis, int64_t t, int& first, uint32_t* pairs) {
    // The centre less half a source pixel, in units of 1/(2 size) of a source pixel.
    const int64_t twice = 2 * axis.size, at = (2 * t + 1) * axis.source - axis.size;
    const int64_t left = at >= 0 ? at / twice : -1;
    if (left < 0 || left >= axis.source - 1) {
        first = left < 0 ? 0 : int(axis.source - 1);
        pairs[0] = kOne;
        return 1;
    }
    const int64_t right = (at - left * twice) * kOne / twice;
    first = int(left);
    pairs[0] = uint32_t(kOne - right) | uint32_t(right) << 16;
    return 1;
}

// The source pixel GDI+'s nearest-neighbour draw takes: the one nearest to where the output
// pixel's left edge falls, except that the last shows where GDI+ would sample past the picture.
int PickNearest(const Axis& axis, int64_t t) {
    return int(std::min((2 * t * axis.source + axis.size) / (2 * axis.size), axis.source - 1));
}

// The weights of the source pixels that output pixel t reads, from `first` on; their pair count.
int WeighSourcePixels(const Axis& axis, int64_t t, int& first, uint32_t* pairs) {
    if (axis.filter == Filter::kArea) return WeighByArea(axis, t, first, pairs);
    if (axis.filter == Filter::kBilinear) return WeighBilinear(axis, t, first, pairs);
    first = PickNearest(axis, t);
    pairs[0] = kOne;
    return 1;
}

// At most this many tap pairs for one output pixel.
int64_t CountMostPairs(const Axis& axis) {
    return axis.filter == Filter::kArea ? (axis.source / axis.size + 3) / 2 : 1;
}

// One pixel of the vertical pass, as BlendRows computes four.
void BlendRowsAtOnePixel(const uint32_t* const* rows, int pairCount, const uint32_t* pairs, int x,
                         int16_t* mid) {
    for (int channel = 0; channel < 4; ++channel) {
        int sum = 1 << (kWeightBits - kMidBits - 1);
        for (int k = 0; k < pairCount; ++k) {
            const auto* a = reinterpret_cast<const uint8_t*>(rows[2 * k] + x);
            const auto* b = reinterpret_cast<const uint8_t*>(rows[2 * k + 1] + x);
            sum += int(pairs[k] & 0xFFFF) * a[channel] + int(pairs[k] >> 16) * b[channel];
        }
        mid[channel] = int16_t(sum >> (kWeightBits - kMidBits));
    }
}

// The vertical pass: columns [from, to) of the source rows under one output row (two rows to
// each pair of weights), weighted, each channel times 2^kMidBits.
void BlendRows(const uint32_t* const* rows, int pairCount, const uint32_t* pairs, int from, int to,
               int16_t* mid) {
    const __m128i zero = _mm_setzero_si128(),
                  half = _mm_set1_epi32(1 << (kWeightBits - kMidBits - 1));
    int x = from;
    for (; x + 4 <= to; x += 4) {
        __m128i sum[4] = {half, half, half, half};
        for (int k = 0; k < pairCount; ++k) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * k] + x));
            const __m128i b =
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[2 * k + 1] + x));
            const __m128i weights = _mm_set1_epi32(int(pairs[k]));
            // Bytes of the two rows side by side, widened: each channel beside its partner.
            const __m128i low = _mm_unpacklo_epi8(a, b), high = _mm_unpackhi_epi8(a, b);
            const __m128i pixels[4] = {_mm_unpacklo_epi8(low, zero), _mm_unpackhi_epi8(low, zero),
                                       _mm_unpacklo_epi8(high, zero),
                                       _mm_unpackhi_epi8(high, zero)};
            for (int i = 0; i < 4; ++i)
                sum[i] = _mm_add_epi32(sum[i], _mm_madd_epi16(pixels[i], weights));
        }
        for (__m128i& s : sum) s = _mm_srai_epi32(s, kWeightBits - kMidBits);
        __m128i* const into = reinterpret_cast<__m128i*>(mid + (x - from) * 4);
        _mm_storeu_si128(into, _mm_packs_epi32(sum[0], sum[1]));
        _mm_storeu_si128(into + 1, _mm_packs_epi32(sum[2], sum[3]));
    }
    for (; x < to; ++x) BlendRowsAtOnePixel(rows, pairCount, pairs, x, mid + (x - from) * 4);
}

// Where one output column reads the vertical pass: its first tap (from the pass's first column)
// and its pairs of weights in the shared table.
struct Column {
    int first;
    int pairCount;
    size_t pairsAt;
};

// A pixel's channels in 16-bit lanes, twice over.
__m128i Widen(uint32_t pixel) {
    return _mm_unpacklo_epi8(_mm_set1_epi32(int(pixel)), _mm_setzero_si128());
}

// Two pixels of 16-bit channels over the widened background: p + under * (255 - alpha) / 255,
// the division rounded by its exact shift form.
__m128i Over(__m128i p, __m128i under) {
    const __m128i alpha = _mm_shufflehi_epi16(_mm_shufflelo_epi16(p, 0xFF), 0xFF);
    __m128i product = _mm_mullo_epi16(under, _mm_sub_epi16(_mm_set1_epi16(255), alpha));
    product = _mm_add_epi16(product, _mm_set1_epi16(128));
    product = _mm_srli_epi16(_mm_add_epi16(product, _mm_srli_epi16(product, 8)), 8);
    return _mm_add_epi16(p, product);
}

// One output pixel from the vertical pass: its columns weighted, as 32-bit channels.
__m128i SumColumns(const int16_t* mid, const Column& column, const uint32_t* pairs) {
    __m128i sum = _mm_set1_epi32(1 << (kWeightBits + kMidBits - 1));
    for (int k = 0; k < column.pairCount; ++k) {
        const int16_t* at = mid + (column.first + 2 * k) * 4;
        const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i interleaved = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
        const __m128i weights = _mm_set1_epi32(int(pairs[column.pairsAt + k]));
        sum = _mm_add_epi32(sum, _mm_madd_epi16(interleaved, weights));
    }
    return _mm_srai_epi32(sum, kWeightBits + kMidBits);
}

// The horizontal pass: one output row from the vertical pass, over the widened background.
void BlendColumns(const int16_t* mid, const Column* columns, const uint32_t* pairs, int count,
                  __m128i under, uint32_t* out) {
    int i = 0;
    for (; i + 2 <= count; i += 2) {
        const __m128i words = _mm_packs_epi32(SumColumns(mid, columns[i], pairs),
                                              SumColumns(mid, columns[i + 1], pairs));
        const __m128i over = Over(words, under);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(over, over));
    }
    if (i < count) {
        const __m128i sum = SumColumns(mid, columns[i], pairs);
        const __m128i words = _mm_packs_epi32(sum, sum);
        const __m128i over = Over(words, under);
        out[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(over, over)));
    }
}

// Each pixel over the background.
void BlendOver(uint32_t* pixels, int count, uint32_t background) {
    if (background == 0) return;
    const __m128i zero = _mm_setzero_si128(), under = Widen(background);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        __m128i* const at = reinterpret_cast<__m128i*>(pixels + i);
        const __m128i p = _mm_loadu_si128(at);
        _mm_storeu_si128(at, _mm_packus_epi16(Over(_mm_unpacklo_epi8(p, zero), under),
                                              Over(_mm_unpackhi_epi8(p, zero), under)));
    }
    for (; i < count; ++i) {
        const __m128i over = Over(Widen(pixels[i]), under);
        pixels[i] = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(over, over)));
    }
}

// What every band of one ScaleRegion call shares; bands only read it.
struct Frame {
    const Pixels* level;
    Axis rows;
    int64_t top, left;       // the placement's corner
    int x0, x1, y0, y1;      // the region, within the output
    int px0, px1, py0, py1;  // the picture's part of it
    const Column* columns;   // one per picture column
    const uint32_t* pairs;
    int midFrom, midTo;  // the vertical pass's source columns
    bool actualSize;     // each pixel shows as it is, whatever the filter
    uint32_t background;
    uint32_t* out;
    int outWidth;
    std::atomic<bool>* shortOfMemory;  // set by a band that showed the background instead
};

void Fill(uint32_t* from, int64_t count, uint32_t value) {
    if (count > 0) std::fill(from, from + count, value);
}

// What one band works in: the vertical pass's row, one output row's weights and their rows.
struct Scratch {
    std::unique_ptr<int16_t[]> mid;
    std::unique_ptr<uint32_t[]> pairs;
    std::unique_ptr<const uint32_t*[]> rows;
};

void RenderPictureRow(const Frame& frame, int y, const Scratch& scratch, uint32_t* into) {
    const Pixels& level = *frame.level;
    int first = 0;
    const int pairCount = WeighSourcePixels(frame.rows, y - frame.top, first, scratch.pairs.get());
    const int count = frame.px1 - frame.px0;
    for (int i = 0; i < 2 * pairCount; ++i) {
        // An odd last row's partner weighs nothing; any row will do.
        scratch.rows[i] =
            level.bits.get() + size_t(std::min(first + i, level.height - 1)) * level.width;
    }
    if (frame.actualSize) {
        std::copy_n(scratch.rows[0] + (frame.px0 - frame.left), count, into);
    } else if (frame.rows.filter == Filter::kNearest) {
        for (int i = 0; i < count; ++i)
            into[i] = scratch.rows[0][frame.midFrom + frame.columns[i].first];
    } else {
        BlendRows(scratch.rows.get(), pairCount, scratch.pairs.get(), frame.midFrom,
                  std::min(frame.midTo, level.width), scratch.mid.get());
        BlendColumns(scratch.mid.get(), frame.columns, frame.pairs, count, Widen(frame.background),
                     into);
        return;
    }
    BlendOver(into, count, frame.background);
}

void RenderRows(const Frame& frame, int from, int to) {
    const int64_t most = CountMostPairs(frame.rows);
    // Past the picture's last column, the vertical pass's row stays 0 for odd last taps to read.
    const Scratch scratch = {
        std::unique_ptr<int16_t[]>(NewArray<int16_t>(int64_t(frame.midTo - frame.midFrom) * 4)),
        std::unique_ptr<uint32_t[]>(NewArray<uint32_t>(most)),
        std::unique_ptr<const uint32_t*[]>(NewArray<const uint32_t*>(2 * most))};
    for (int y = from; y < to; ++y) {
        uint32_t* const row = frame.out + size_t(y) * frame.outWidth;
        const bool picture = y >= frame.py0 && y < frame.py1 && frame.px0 < frame.px1;
        if (!picture || !scratch.mid || !scratch.pairs || !scratch.rows) {
            if (picture) *frame.shortOfMemory = true;
            Fill(row + frame.x0, frame.x1 - frame.x0, frame.background);
            continue;
        }
        Fill(row + frame.x0, frame.px0 - frame.x0, frame.background);
        RenderPictureRow(frame, y, scratch, row + frame.px0);
        Fill(row + frame.px1, frame.x1 - frame.px1, frame.background);
    }
}

void RenderBand(const void* context, int band, int bands) {
    const Frame& frame = *static_cast<const Frame*>(context);
    const int64_t rows = frame.y1 - frame.y0;
    RenderRows(frame, int(frame.y0 + rows * band / bands),
               int(frame.y0 + rows * (band + 1) / bands));
}

// Splits a large job in bands of rows, a few for each processor so that none waits long for the
// slowest, and runs them on the pool; a small one stays on this thread.
void RunInBands(void (*run)(const void* context, int band, int bands), const void* context,
                int bands, int64_t pixels) {
    if (pixels < kPoolPixels) {
        run(context, 0, 1);
        return;
    }
    bands = std::max(1, std::min(bands, CountProcessors() * 4));
    RunInParallel(bands, [&](int band) { run(context, band, bands); });
}

// The smallest level still at least the placement's size either way, else the picture.
const Pixels& PickLevel(const Reductions& levels, const Placement& rect) {
    size_t k = 0;
    while (k + 1 < levels.size() && levels[k + 1].width >= rect.width &&
           levels[k + 1].height >= rect.height)
        ++k;
    return levels[k];
}

Axis MakeAxis(int size, int source, bool smooth) {
    if (!smooth) return {size, source, Filter::kNearest};
    return {size, source, size <= source ? Filter::kArea : Filter::kBilinear};
}

// Each picture column's taps; false when memory is short.
bool MakeColumns(Frame& frame, const Axis& axis, std::unique_ptr<Column[]>& columns,
                 std::unique_ptr<uint32_t[]>& pairs) {
    const int count = frame.px1 - frame.px0;
    const int64_t most = CountMostPairs(axis);
    columns.reset(NewArray<Column>(count));
    pairs.reset(NewArray<uint32_t>(count * most));
    if (!columns || !pairs) return false;
    size_t at = 0;
    for (int i = 0; i < count; ++i) {
        Column& column = columns[i];
        column.pairCount =
            WeighSourcePixels(axis, frame.px0 + i - frame.left, column.first, &pairs[at]);
        column.pairsAt = at;
        at += column.pairCount;
    }
    frame.midFrom = columns[0].first;
    frame.midTo = frame.midFrom;
    for (int i = 0; i < count; ++i) {
        columns[i].first -= frame.midFrom;
        frame.midTo =
            std::max(frame.midTo, frame.midFrom + columns[i].first + 2 * columns[i].pairCount);
    }
    return true;
}

int Clamp(int64_t value, int64_t low, int64_t high) {
    return int(std::max(low, std::min(value, high)));
}

// One row of a halving: each pixel the rounded average of the 2 x 2 pixels under it.
void HalveRow(const uint32_t* top, const uint32_t* bottom, uint32_t* out, int width) {
    const __m128i zero = _mm_setzero_si128(), two = _mm_set1_epi16(2);
    int x = 0;
    for (; x + 2 <= width; x += 2) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 2 * x));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 2 * x));
        // Columns summed down, then beside: pixels 0 + 1 and 2 + 3 of the four.
        const __m128i low = _mm_add_epi16(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero));
        const __m128i high = _mm_add_epi16(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero));
        __m128i sum = _mm_add_epi16(_mm_unpacklo_epi64(low, high), _mm_unpackhi_epi64(low, high));
        sum = _mm_srli_epi16(_mm_add_epi16(sum, two), 2);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(sum, sum));
    }
    for (; x < width; ++x) {
        uint32_t result = 0;
        for (int shift = 0; shift < 32; shift += 8) {
            const auto at = [&](const uint32_t* row, int i) { return row[i] >> shift & 0xFF; };
            const uint32_t sum =
                at(top, 2 * x) + at(top, 2 * x + 1) + at(bottom, 2 * x) + at(bottom, 2 * x + 1);
            result |= (sum + 2) >> 2 << shift;
        }
        out[x] = result;
    }
}

struct Halving {
    const Pixels* from;
    const Pixels* to;
};

void HalveBand(const void* context, int band, int bands) {
    const Pixels& from = *static_cast<const Halving*>(context)->from;
    const Pixels& to = *static_cast<const Halving*>(context)->to;
    const int64_t end = int64_t(to.height) * (band + 1) / bands;
    for (int y = int(int64_t(to.height) * band / bands); y < end; ++y) {
        const uint32_t* const top = from.bits.get() + size_t(2 * y) * from.width;
        HalveRow(top, top + from.width, to.bits.get() + size_t(y) * to.width, to.width);
    }
}

}  // namespace

namespace {

// Bytes of pixels allocated and not yet freed, and the most there may be: the address space,
// unless a test stands a smaller ceiling in for it.
std::atomic<uint64_t> allocatedBytes{0};
std::atomic<uint64_t> ceilingBytes{UINT64_MAX};

}  // namespace

void PixelsFree::operator()(uint32_t* bits) const {
    if (!bits) return;
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(bits, &region, sizeof region);
    allocatedBytes -= region.RegionSize;
    VirtualFree(bits, 0, MEM_RELEASE);
}

void CapPixelMemoryForTests(uint64_t bytes) {
    ceilingBytes = bytes;
}

uint64_t PixelMemoryCap() {
    return ceilingBytes;
}

Pixels AllocatePixels(int width, int height) {
    Pixels pixels;
    // A 32-bit address space cannot hold every size two ints can name.
    if (width <= 0 || height <= 0 || uint64_t(width) * uint64_t(height) > SIZE_MAX / 4)
        return pixels;
    const size_t bytes = size_t(width) * size_t(height) * 4;
    if (allocatedBytes + bytes > ceilingBytes) return pixels;
    void* const bits = VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!bits) return pixels;
    MEMORY_BASIC_INFORMATION region = {};
    VirtualQuery(bits, &region, sizeof region);
    allocatedBytes += region.RegionSize;
    pixels.width = width;
    pixels.height = height;
    pixels.bits.reset(static_cast<uint32_t*>(bits));
    return pixels;
}

bool MakeReductions(Reductions& levels) {
    if (levels.empty() || !levels[0].bits) return false;
    size_t k = 0;
    for (; levels[k].width > kSmallestReduction && levels[k].height > kSmallestReduction; ++k) {
        const int width = levels[k].width / 2, height = levels[k].height / 2;
        // The frames of an animation share a size: each reuses the reductions of the one before.
        if (k + 1 == levels.size() || levels[k + 1].width != width ||
            levels[k + 1].height != height) {
            levels.resize(k + 1);
            levels.push_back(AllocatePixels(width, height));
            if (!levels.back().bits) {
                levels.resize(1);
                return false;
            }
        }
        const Halving halving = {&levels[k], &levels[k + 1]};
        RunInBands(HalveBand, &halving, height, int64_t(width) * height);
    }
    levels.resize(k + 1);
    return true;
}

bool ScaleRegion(const Reductions& levels, const Placement& rect, bool smooth, uint32_t background,
                 uint32_t* out, int outWidth, const Region& region) {
    Frame frame = {};
    frame.x0 = Clamp(region.x, 0, outWidth);
    frame.x1 = Clamp(int64_t(region.x) + region.width, frame.x0, outWidth);
    frame.y0 = Clamp(region.y, 0, INT_MAX);
    frame.y1 = Clamp(int64_t(region.y) + region.height, frame.y0, INT_MAX);
    if (!out || frame.x0 == frame.x1 || frame.y0 == frame.y1) return out != nullptr;
    std::atomic<bool> shortOfMemory{false};
    frame.shortOfMemory = &shortOfMemory;
    frame.background = background;
    frame.out = out;
    frame.outWidth = outWidth;
    frame.left = rect.x;
    frame.top = rect.y;
    const bool shows = !levels.empty() && levels[0].bits && rect.width > 0 && rect.height > 0;
    frame.px0 = shows ? Clamp(rect.x, frame.x0, frame.x1) : frame.x0;
    frame.px1 = shows ? Clamp(int64_t(rect.x) + rect.width, frame.px0, frame.x1) : frame.x0;
    frame.py0 = shows ? Clamp(rect.y, frame.y0, frame.y1) : frame.y0;
    frame.py1 = shows ? Clamp(int64_t(rect.y) + rect.height, frame.py0, frame.y1) : frame.y0;
    std::unique_ptr<Column[]> columns;
    std::unique_ptr<uint32_t[]> pairs;
    if (frame.px0 < frame.px1 && frame.py0 < frame.py1) {
        frame.level = smooth ? &PickLevel(levels, rect) : &levels[0];
        frame.rows = MakeAxis(rect.height, frame.level->height, smooth);
        frame.actualSize = rect.width == frame.level->width && rect.height == frame.level->height;
        if (!MakeColumns(frame, MakeAxis(rect.width, frame.level->width, smooth), columns, pairs)) {
            frame.px1 = frame.px0;
            shortOfMemory = true;
        }
        frame.columns = columns.get();
        frame.pairs = pairs.get();
    }
    RunInBands(RenderBand, &frame, (frame.y1 - frame.y0 + 7) / 8,
               int64_t(frame.x1 - frame.x0) * (frame.y1 - frame.y0));
    return !shortOfMemory;
}
