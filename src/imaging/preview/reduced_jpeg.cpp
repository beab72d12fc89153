#include "imaging/preview/reduced_jpeg.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

// Codes of up to this many bits are found by one look-up; longer ones, rare, by their length.
constexpr int kLookupBits = 11;
// Whether the preview is still wanted is asked once every so many rows of blocks, a few
// milliseconds of a photo's decode apart: the asking may wait for another thread.
constexpr int kRowsBetweenAsking = 16;
// Far beyond any DC value of an 8-bit file, so that a damaged one cannot overflow.
constexpr int32_t kLargestDc = 1 << 16;

struct HuffmanTable {
    bool defined = false;
    // By the next kLookupBits bits: a code that short, as its value with its length above; 0
    // where the code is longer.
    uint16_t fast[1 << kLookupBits] = {};
    // The same codes as steps through a block's AC coefficients (see AcStep).
    uint16_t acSteps[1 << kLookupBits] = {};
    int32_t largestCode[17] = {};  // of each length, -1 for none
    int32_t firstValue[17] = {};   // where a code's value lies: its index less the code
    int valueCount = 0;
    uint8_t values[256] = {};
};

struct Component {
    int id = 0;
    int h = 1, v = 1;  // sampling factors
    int quantTable = 0;
    int quant = 0;                  // the DC quantiser, as it was at the component's first scan
    int blocksWide = 0;             // blocks of its plane, padded to whole MCUs
    std::unique_ptr<int32_t[]> dc;  // each block's DC coefficient
    bool done = false;              // its DC coefficients are read
    int dcTable = 0, acTable = 0;   // of the scan under way
    int32_t predictor = 0;
};

// Entropy-coded bits, read ahead into a word: a marker, or the end of the bytes, ends them, and
// zero bits follow, counted as padding.
struct Bits {
    const uint8_t* at = nullptr;
    const uint8_t* end = nullptr;
    uint64_t word = 0;  // the next bits, from the top
    int count = 0;
    int padding = 0;
    bool ended = false;
};

struct Decoder {
    const uint8_t* start = nullptr;
    const uint8_t* at = nullptr;
    const uint8_t* end = nullptr;
    long long pixelLimit = 0;
    const std::function<bool()>* stillWanted = nullptr;
    bool progressive = false;
    int width = 0, height = 0;
    int hMax = 1, vMax = 1;
    int mcusWide = 0, mcusHigh = 0;
    int componentCount = 0;  // 0 until the frame header is read
    Component components[3];
    HuffmanTable dcTables[4], acTables[4];
    int quantDc[4] = {};
    bool quantDefined[4] = {};
    int restartInterval = 0;
    int adobeTransform = -1;  // none
};

int Read16(const uint8_t* at) {
    return at[0] << 8 | at[1];
}

int DivideUp(long long a, long long b) {
    return int((a + b - 1) / b);
}

// Whether any of the eight bytes is 0xFF: a marker's, or stuffed.
bool HoldsFF(uint64_t eight) {
    const uint64_t inverted = ~eight;
    return (inverted - 0x0101010101010101) & ~inverted & 0x8080808080808080;
}

// Fills the word to at least 57 bits: as many whole bytes at once as fit where none of them is
// 0xFF, as in nearly all of a photo's entropy data; else byte by byte.
void Refill(Bits& bits) {
    if (bits.count <= 56 && !bits.ended && bits.end - bits.at >= 8) {
        uint64_t eight;
        std::memcpy(&eight, bits.at, 8);
        eight = __builtin_bswap64(eight);
        if (!HoldsFF(eight)) {
            const int bytes = (64 - bits.count) / 8;
            bits.word |= eight >> (64 - 8 * bytes) << (64 - 8 * bytes - bits.count);
            bits.at += bytes;
            bits.count += 8 * bytes;
        }
    }
    while (bits.count <= 56) {
        uint64_t byte = 0;
        if (!bits.ended && bits.at < bits.end && bits.at[0] != 0xFF) {
            byte = *bits.at++;
        } else if (!bits.ended && bits.end - bits.at >= 2 && bits.at[1] == 0) {
            byte = 0xFF;  // stuffed
            bits.at += 2;
        } else {
            bits.ended = true;
            bits.padding += 8;
        }
        bits.word |= byte << (56 - bits.count);
        bits.count += 8;
    }
}

void Skip(Bits& bits, int n) {
    bits.word <<= n;
    bits.count -= n;
}

// The next code's value, or -1 for a code the table does not have. The word holds 16 bits.
int DecodeSymbol(Bits& bits, const HuffmanTable& table) {
    const uint16_t fast = table.fast[bits.word >> (64 - kLookupBits)];
    if (fast) {
        Skip(bits, fast >> 8);
        return fast & 0xFF;
    }
    for (int length = kLookupBits + 1; length <= 16; ++length) {
        const int32_t code = int32_t(bits.word >> (64 - length));
        if (code <= table.largestCode[length]) {
            const int32_t index = table.firstValue[length] + code;
            if (index < 0 || index >= table.valueCount) return -1;
            Skip(bits, length);
            return table.values[index];
        }
    }
    return -1;
}

// The next size bits as a signed value, as JPEG codes differences and coefficients.
int32_t Receive(Bits& bits, int size) {
    if (size == 0) return 0;
    int32_t value = int32_t(bits.word >> (64 - size));
    Skip(bits, size);
    return value < (1 << (size - 1)) ? value - (1 << size) + 1 : value;
}

// An AC code of that length and value as a step through a block: the bits it takes with its
// coefficient's, and the coefficients it covers above them (0 for the block's end).
uint16_t AcStep(int length, int symbol) {
    const int run = symbol >> 4, size = symbol & 15;
    const int covered = size ? run + 1 : run == 15 ? 16 : 0;
    return uint16_t(covered << 8 | (length + size));
}

// Past a block's AC coefficients, a step a look-up for all but the rare long codes. False for a
// code the table does not have. The word and its count stay in registers between refills: bytes
// read through a pointer could alias them in memory.
bool SkipAc(Bits& bits, const HuffmanTable& table) {
    uint64_t word = bits.word;
    int count = bits.count;
    for (int k = 1; k < 64;) {
        if (count < 32) {
            bits.word = word;
            bits.count = count;
            Refill(bits);
            word = bits.word;
            count = bits.count;
        }
        int step = table.acSteps[word >> (64 - kLookupBits)];
        if (!step) {
            bits.word = word;
            bits.count = count;
            const int symbol = DecodeSymbol(bits, table);
            if (symbol < 0) return false;
            word = bits.word;
            count = bits.count;
            step = AcStep(0, symbol);
        }
        word <<= step & 0xFF;
        count -= step & 0xFF;
        if (!(step >> 8)) break;
        k += step >> 8;
    }
    bits.word = word;
    bits.count = count;
    return true;
}

bool DecodeBlock(Decoder& decoder, Bits& bits, Component& component, int32_t& dc) {
    if (bits.count < 32) Refill(bits);
    const int size = DecodeSymbol(bits, decoder.dcTables[component.dcTable]);
    if (size < 0 || size > 11) return false;
    component.predictor =
        std::clamp(component.predictor + Receive(bits, size), -kLargestDc, kLargestDc);
    dc = component.predictor;
    return decoder.progressive || SkipAc(bits, decoder.acTables[component.acTable]);
}

// Past the restart marker that ends an interval, wherever it lies ahead. False for none.
bool Restart(Bits& bits) {
    const uint8_t* at = bits.at;
    while (at + 1 < bits.end && !(at[0] == 0xFF && at[1] != 0 && at[1] != 0xFF)) ++at;
    if (at + 1 >= bits.end || at[1] < 0xD0 || at[1] > 0xD7) return false;
    bits = {at + 2, bits.end};
    return true;
}

struct Scan {
    Component* components[3] = {};
    int count = 0;
    int shift = 0;  // Al: a progressive DC scan codes the coefficients shifted right by it
};

// One MCU: a block of a scan of one component; else each component's h x v blocks.
bool DecodeMcu(Decoder& decoder, Bits& bits, const Scan& scan, int mx, int my) {
    for (int i = 0; i < scan.count; ++i) {
        Component& component = *scan.components[i];
        const int wide = scan.count == 1 ? 1 : component.h,
                  high = scan.count == 1 ? 1 : component.v;
        for (int v = 0; v < high; ++v) {
            for (int h = 0; h < wide; ++h) {
                int32_t dc = 0;
                if (!DecodeBlock(decoder, bits, component, dc)) return false;
                const size_t at = size_t(my * high + v) * component.blocksWide + mx * wide + h;
                component.dc[at] = dc * (1 << scan.shift);
            }
        }
    }
    return true;
}

// Decodes the scan's entropy data, from the decoder's place on. Where the data ends early, is
// damaged or misses a restart marker, the blocks after stay as they are (mid-gray).
bool DecodeScan(Decoder& decoder, const Scan& scan) {
    int wide = decoder.mcusWide, high = decoder.mcusHigh;
    if (scan.count == 1) {
        const Component& only = *scan.components[0];
        wide = DivideUp(DivideUp(1LL * decoder.width * only.h, decoder.hMax), 8);
        high = DivideUp(DivideUp(1LL * decoder.height * only.v, decoder.vMax), 8);
    }
    Bits bits = {decoder.at, decoder.end};
    int untilRestart = decoder.restartInterval;
    bool going = true;
    for (int my = 0; going && my < high; ++my) {
        const bool asking = my % kRowsBetweenAsking == 0 && *decoder.stillWanted;
        if (asking && !(*decoder.stillWanted)()) return false;
        for (int mx = 0; going && mx < wide; ++mx) {
            if (decoder.restartInterval && untilRestart-- == 0) {
                going = Restart(bits);
                untilRestart = decoder.restartInterval - 1;
                for (int i = 0; i < scan.count; ++i) scan.components[i]->predictor = 0;
            }
            going = going && DecodeMcu(decoder, bits, scan, mx, my) && bits.count >= bits.padding;
        }
    }
    decoder.at = bits.at;
    for (int i = 0; i < scan.count; ++i) scan.components[i]->done = true;
    return true;
}

bool BuildTable(const uint8_t* counts, const uint8_t* values, HuffmanTable& table) {
    table = {};
    int32_t code = 0;
    int index = 0;
    for (int length = 1; length <= 16; ++length) {
        const int count = counts[length - 1];
        // A code of all ones is never used, so that a marker's fill cannot read as a code.
        if (code + count >= (1 << length)) return false;
        table.firstValue[length] = index - code;
        table.largestCode[length] = count ? code + count - 1 : -1;
        for (int i = 0; i < count; ++i, ++code, ++index) {
            table.values[index] = values[index];
            const int spare = kLookupBits - length;
            for (int j = 0; spare >= 0 && j < 1 << spare; ++j) {
                table.fast[code << spare | j] = uint16_t(length << 8 | values[index]);
                table.acSteps[code << spare | j] = AcStep(length, values[index]);
            }
        }
        code <<= 1;
    }
    table.valueCount = index;
    table.defined = index > 0;
    return true;
}

bool ReadHuffmanTables(Decoder& decoder, const uint8_t* at, size_t size) {
    while (size > 0) {
        if (size < 17 || at[0] >> 4 > 1 || (at[0] & 15) > 3) return false;
        size_t count = 0;
        for (int i = 1; i <= 16; ++i) count += at[i];
        if (count > 256 || size < 17 + count) return false;
        HuffmanTable* const tables = at[0] >> 4 ? decoder.acTables : decoder.dcTables;
        if (!BuildTable(at + 1, at + 17, tables[at[0] & 15])) return false;
        at += 17 + count;
        size -= 17 + count;
    }
    return true;
}

// Only each table's first entry matters here: the DC quantiser.
bool ReadQuantTables(Decoder& decoder, const uint8_t* at, size_t size) {
    while (size > 0) {
        const int precision = at[0] >> 4, id = at[0] & 15;
        const size_t length = 1 + 64 * size_t(precision + 1);
        if (precision > 1 || id > 3 || size < length) return false;
        decoder.quantDc[id] = precision ? Read16(at + 1) : at[1];
        decoder.quantDefined[id] = true;
        at += length;
        size -= length;
    }
    return true;
}

bool ReadComponents(Decoder& decoder, const uint8_t* at) {
    for (int i = 0; i < decoder.componentCount; ++i) {
        Component& component = decoder.components[i];
        component.id = at[3 * i];
        component.h = at[3 * i + 1] >> 4;
        component.v = at[3 * i + 1] & 15;
        component.quantTable = at[3 * i + 2];
        if (component.h < 1 || component.h > 4 || component.v < 1 || component.v > 4 ||
            component.quantTable > 3) {
            return false;
        }
        for (int j = 0; j < i; ++j) {
            if (decoder.components[j].id == component.id) return false;
        }
        decoder.hMax = std::max(decoder.hMax, component.h);
        decoder.vMax = std::max(decoder.vMax, component.v);
    }
    return true;
}

// Each component's plane of DC coefficients, once the frame is known to be worth them: a block
// costs at least a bit of entropy data, so a frame that declares more blocks than the file's bytes
// could code is refused before anything is allocated for it.
bool AllocatePlanes(Decoder& decoder) {
    decoder.mcusWide = DivideUp(decoder.width, 8LL * decoder.hMax);
    decoder.mcusHigh = DivideUp(decoder.height, 8LL * decoder.vMax);
    long long blocks = 0;
    for (int i = 0; i < decoder.componentCount; ++i) {
        const Component& component = decoder.components[i];
        if (decoder.hMax % component.h || decoder.vMax % component.v) return false;
        blocks += 1LL * decoder.mcusWide * component.h * decoder.mcusHigh * component.v;
    }
    if (blocks > 8 * (decoder.end - decoder.start)) return false;
    for (int i = 0; i < decoder.componentCount; ++i) {
        Component& component = decoder.components[i];
        component.blocksWide = decoder.mcusWide * component.h;
        const size_t count = size_t(component.blocksWide) * decoder.mcusHigh * component.v;
        component.dc.reset(new (std::nothrow) int32_t[count]());
        if (!component.dc) return false;
    }
    return true;
}

bool ReadFrame(Decoder& decoder, const uint8_t* at, size_t size, bool progressive) {
    if (decoder.componentCount || size < 6 || at[0] != 8) return false;
    decoder.progressive = progressive;
    decoder.height = Read16(at + 1);
    decoder.width = Read16(at + 3);
    decoder.componentCount = at[5];
    if ((decoder.componentCount != 1 && decoder.componentCount != 3) ||
        size < 6 + 3 * size_t(decoder.componentCount) || decoder.width == 0 ||
        decoder.height == 0 || 1LL * decoder.width * decoder.height > decoder.pixelLimit) {
        return false;
    }
    return ReadComponents(decoder, at + 6) && AllocatePlanes(decoder);
}

Component* FindComponent(Decoder& decoder, int id) {
    for (int i = 0; i < decoder.componentCount; ++i) {
        if (decoder.components[i].id == id) return &decoder.components[i];
    }
    return nullptr;
}

// What a scan needs: components of the frame, each once, with its tables defined.
bool ReadScanComponents(Decoder& decoder, const uint8_t* at, Scan& scan) {
    for (int i = 0; i < scan.count; ++i) {
        Component* const component = FindComponent(decoder, at[2 * i]);
        if (!component ||
            std::find(scan.components, scan.components + i, component) != scan.components + i) {
            return false;
        }
        component->dcTable = at[2 * i + 1] >> 4;
        component->acTable = at[2 * i + 1] & 15;
        if (component->dcTable > 3 || component->acTable > 3 ||
            !decoder.dcTables[component->dcTable].defined ||
            (!decoder.progressive && !decoder.acTables[component->acTable].defined) ||
            !decoder.quantDefined[component->quantTable]) {
            return false;
        }
        if (!component->done) component->quant = decoder.quantDc[component->quantTable];
        component->predictor = 0;
        scan.components[i] = component;
    }
    return true;
}

// A progressive file's later scans, which refine what the first DC scans give or add AC
// coefficients, are passed over.
bool ReadScan(Decoder& decoder, const uint8_t* at, size_t size) {
    Scan scan;
    scan.count = size >= 1 ? at[0] : 0;
    if (!decoder.componentCount || scan.count < 1 || scan.count > decoder.componentCount ||
        size < 4 + 2 * size_t(scan.count)) {
        return false;
    }
    const uint8_t* const spectral = at + 1 + 2 * scan.count;
    const int start = spectral[0], stop = spectral[1], high = spectral[2] >> 4;
    scan.shift = spectral[2] & 15;
    if (decoder.progressive && (start != 0 || high != 0)) return true;
    if (decoder.progressive && (stop != 0 || scan.shift > 13)) return false;
    if (!decoder.progressive) scan.shift = 0;
    return ReadScanComponents(decoder, at + 1, scan) && DecodeScan(decoder, scan);
}

bool ReadSegment(Decoder& decoder, int marker, const uint8_t* at, size_t size) {
    switch (marker) {
        case 0xC0:
        case 0xC1:
        case 0xC2:
            return ReadFrame(decoder, at, size, marker == 0xC2);
        case 0xC4:
            return ReadHuffmanTables(decoder, at, size);
        case 0xDB:
            return ReadQuantTables(decoder, at, size);
        case 0xDD:
            decoder.restartInterval = size >= 2 ? Read16(at) : 0;
            return true;
        case 0xDA:
            return ReadScan(decoder, at, size);
        case 0xEE:
            if (size >= 12 && std::memcmp(at, "Adobe", 5) == 0) decoder.adobeTransform = at[11];
            return true;
        default:
            // Other frame types: lossless, hierarchical, arithmetic-coded.
            return marker < 0xC3 || marker > 0xCF || marker == 0xC8 || marker == 0xCC;
    }
}

// The next marker from the decoder's place on, past entropy data and fill: its code, with the
// place after it; 0 at the end.
int NextMarker(Decoder& decoder) {
    const uint8_t* at = decoder.at;
    while (decoder.end - at >= 2 && !(at[0] == 0xFF && at[1] != 0 && at[1] != 0xFF)) {
        const void* const next = std::memchr(at + 1, 0xFF, size_t(decoder.end - at - 1));
        at = next ? static_cast<const uint8_t*>(next) : decoder.end;
    }
    if (decoder.end - at < 2) return 0;
    decoder.at = at + 2;
    return at[1];
}

bool AllDone(const Decoder& decoder) {
    for (int i = 0; i < decoder.componentCount; ++i) {
        if (!decoder.components[i].done) return false;
    }
    return decoder.componentCount > 0;
}

// Walks the segments until every component's DC coefficients are read.
bool ReadUntilDone(Decoder& decoder) {
    while (!AllDone(decoder)) {
        const int marker = NextMarker(decoder);
        if (marker == 0 || marker == 0xD9) return false;
        // Restart markers out of place, and the start marker, stand alone.
        if ((marker >= 0xD0 && marker <= 0xD8) || marker == 0x01) continue;
        if (decoder.end - decoder.at < 2) return false;
        const size_t length = size_t(Read16(decoder.at));
        if (length < 2 || length > size_t(decoder.end - decoder.at)) return false;
        const uint8_t* const segment = decoder.at + 2;
        decoder.at += length;
        if (!ReadSegment(decoder, marker, segment, length - 2)) return false;
    }
    return true;
}

// A block's mean level of the component, from its DC coefficient: an eighth of it, dequantised,
// about mid-gray.
uint8_t Level(int32_t dc, int quant) {
    return uint8_t(std::clamp<int64_t>(128 + ((int64_t(dc) * quant + 4) >> 3), 0, 255));
}

// Each pixel's level of the component, row after row: its blocks' levels, each spread over the
// pixels it covers.
std::vector<uint8_t> SpreadLevels(const Decoder& decoder, const Component& component, int width,
                                  int height) {
    std::vector<uint8_t> levels(size_t(width) * height);
    const int across = decoder.hMax / component.h, down = decoder.vMax / component.v;
    for (int y = 0; y < height; ++y) {
        const int32_t* const row = component.dc.get() + size_t(y / down) * component.blocksWide;
        uint8_t* const to = levels.data() + size_t(y) * width;
        for (int x = 0; x < width; x += across) {
            std::fill_n(to + x, std::min(across, width - x),
                        Level(row[x / across], component.quant));
        }
    }
    return levels;
}

uint32_t Opaque(int red, int green, int blue) {
    return 0xFF000000u | uint32_t(std::clamp(red, 0, 255)) << 16 |
           uint32_t(std::clamp(green, 0, 255)) << 8 | uint32_t(std::clamp(blue, 0, 255));
}

// JFIF's conversion, in 16.16 fixed point.
uint32_t FromYCbCr(int y, int cb, int cr) {
    cb -= 128;
    cr -= 128;
    return Opaque(y + ((91881 * cr + 32768) >> 16), y + ((-22554 * cb - 46802 * cr + 32768) >> 16),
                  y + ((116130 * cb + 32768) >> 16));
}

// Three components hold red, green and blue where an Adobe marker says so, or where their ids
// spell it without one.
bool HoldsRgb(const Decoder& decoder) {
    const Component* const c = decoder.components;
    if (decoder.adobeTransform >= 0) return decoder.adobeTransform == 0;
    return c[0].id == 'R' && c[1].id == 'G' && c[2].id == 'B';
}

bool ComposePixels(const Decoder& decoder, Pixels& pixels) {
    Pixels made = AllocatePixels(DivideUp(decoder.width, 8), DivideUp(decoder.height, 8));
    if (!made.bits) return false;
    std::vector<uint8_t> levels[3];
    for (int i = 0; i < decoder.componentCount; ++i) {
        levels[i] = SpreadLevels(decoder, decoder.components[i], made.width, made.height);
    }
    const bool gray = decoder.componentCount == 1, rgb = !gray && HoldsRgb(decoder);
    for (size_t i = 0; i < size_t(made.width) * made.height; ++i) {
        const int first = levels[0][i];
        made.bits[i] = gray  ? Opaque(first, first, first)
                       : rgb ? Opaque(first, levels[1][i], levels[2][i])
                             : FromYCbCr(first, levels[1][i], levels[2][i]);
    }
    pixels = std::move(made);
    return true;
}

}  // namespace

bool DecodeReducedJpeg(const unsigned char* bytes, size_t size, long long pixelLimit,
                       const std::function<bool()>& stillWanted, Pixels& pixels) {
    if (size < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8) return false;
    const auto decoder = std::make_unique<Decoder>();
    decoder->start = bytes;
    decoder->at = bytes + 2;
    decoder->end = bytes + size;
    decoder->pixelLimit = pixelLimit;
    decoder->stillWanted = &stillWanted;
    return ReadUntilDone(*decoder) && ComposePixels(*decoder, pixels);
}
