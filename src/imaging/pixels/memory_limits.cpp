#include "imaging/pixels/memory_limits.h"

#include <algorithm>

#include "imaging/pixels/scaler.h"
#include "platform/platform.h"

namespace {

constexpr bool kIs32Bit = sizeof(void*) == 4;
constexpr unsigned long long kBytesPerPixel = 4;

// The 32-bit build's limits: a kept file leaves room for its picture, no picture takes more
// than the whole address space, and the read-ahead leaves room for the rest of the program.
constexpr unsigned long long kLargestKeptFileBytes32 = 1ULL << 30;
constexpr long long kLargestPicturePixels32 = (1LL << 32) / kBytesPerPixel;
constexpr long long kReadAheadBudgetPixels32 = 100'000'000;

// Bytes of physical memory the machine has, or 0 when the system does not say.
unsigned long long PhysicalMemoryBytes() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    return GlobalMemoryStatusEx(&status) ? status.ullTotalPhys : 0;
}

// The pixels that a share of physical memory holds, but never fewer than floor.
long long PixelsInMemory(unsigned long long share, long long floor) {
    return std::max(floor, static_cast<long long>(PhysicalMemoryBytes() / share / kBytesPerPixel));
}

}  // namespace

unsigned long long LargestKeptFileBytes() {
    if (kIs32Bit) return kLargestKeptFileBytes32;
    return std::max(kLargestKeptFileBytes32, PhysicalMemoryBytes());
}

long long LargestPicturePixels() {
    return kIs32Bit ? kLargestPicturePixels32 : PixelsInMemory(1, kLargestPicturePixels32);
}

long long ReadAheadBudgetPixels() {
    const long long budget =
        kIs32Bit ? kReadAheadBudgetPixels32 : PixelsInMemory(8, kReadAheadBudgetPixels32);
    return std::min(budget, static_cast<long long>(PixelMemoryCap() / kBytesPerPixel));
}

long long RoomBeside(long long heldPixels) {
    return (ReadAheadBudgetPixels() - heldPixels) / 4 * 3;
}
