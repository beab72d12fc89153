// Times the viewer's own operations on its real window, each beside the platform's floor for
// the same work: one GDI+ decode of the picture, one GDI+ scaled draw of it at the same size
// (the way the viewer once composed every view).
// Usage: glim_bench PICTURE_FOLDER GLIM_EXE [RUNS [--outside]]
//        (--outside: only the presses timed from outside and the header probes)
//        glim_bench --plain-window   (the platform's own window start, timed from outside)
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/animation.h"
#include "core/app_state.h"
#include "imaging/pixels/view.h"
#include "core/navigation.h"
#include "core/view_commands.h"
#include "imaging/decode/codecs.h"
#include "imaging/pixels/composition.h"
#include "imaging/decode/file_stream.h"
#include "imaging/decode/image_loading.h"
#include "imaging/decode/picture_size.h"
#include "imaging/preview/reduced_jpeg.h"
#include "imaging/work/workers.h"
#include "window/main_window.h"
#include "window/presenting.h"
// After the platform header, which brings in what it needs.
#include <psapi.h>

namespace fs = std::filesystem;

namespace {

constexpr int kClientWidth = 1920;
constexpr int kClientHeight = 1080;
constexpr int kPanStep = 8;

int runs = 7;
// The picture on show as GDI+ decodes it, for the floors that GDI+ draws.
std::unique_ptr<Gdiplus::Image> platformPicture;

double NowMs() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// Median over runs; before each timed run, prepare (untimed) puts the state it needs.
double MedianMs(
    const std::function<void()>& work, const std::function<void()>& prepare = [] {}) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) {
        prepare();
        const double start = NowMs();
        work();
        times.push_back(NowMs() - start);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

// Pumps the window's messages, waking as each arrives, until the condition holds; then flushes
// GDI's queue so that what was drawn has gone to the screen.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs = 60000) {
    for (const double start = NowMs();;) {
        PumpMessages();
        if (condition()) {
            GdiFlush();
            return true;
        }
        if (NowMs() - start > timeoutMs) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 1, QS_ALLINPUT);
    }
}

// The entry asked for last is on screen whole: not pending, and not as its preview.
bool PictureShown() {
    return !PressPending() && !app.onShow.preview;
}

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    for (const double start = NowMs(); !condition(); Sleep(1)) {
        PumpMessages();
        if (NowMs() - start > timeoutMs) return false;
    }
    return true;
}

struct Row {
    std::string picture, operation;
    double ms, floorMs;
    const char* floor;
};
std::vector<Row> rows;

struct Peak {
    std::string picture;
    double privateMb, workingSetMb;
};
std::vector<Peak> peaks;

void Report(const std::string& picture, const std::string& operation, double ms, double floorMs,
            const char* floor) {
    rows.push_back({picture, operation, ms, floorMs, floor});
    std::fprintf(stderr, "%-18s %-34s %9.2f ms  floor %9.2f ms\n", picture.c_str(),
                 operation.c_str(), ms, floorMs);
}

// The platform's floor for a composition: one draw of the picture where the view puts it, into
// a fresh client-sized bitmap, with the view's filter.
double ScaledDrawMs() {
    const Placement rect = ComputePlacement(app.view, app.onShow.picture);
    return MedianMs([&] {
        Gdiplus::Bitmap target(app.view.clientWidth, app.view.clientHeight, PixelFormat32bppARGB);
        Gdiplus::Graphics graphics(&target);
        graphics.SetInterpolationMode(app.view.smoothScaling
                                          ? Gdiplus::InterpolationModeHighQualityBilinear
                                          : Gdiplus::InterpolationModeNearestNeighbor);
        graphics.DrawImage(platformPicture.get(), rect.x, rect.y, rect.width, rect.height);
    });
}

// The platform's floor for a load: one GDI+ decode of the picture into new pixels of the
// program's own, premultiplied unless the picture is opaque, as the viewer decodes it.
void DecodeOnce(const fs::path& file) {
    Gdiplus::Bitmap picture(file.c_str());
    const Pixels pixels = AllocatePixels(int(picture.GetWidth()), int(picture.GetHeight()));
    const Gdiplus::PixelFormat format = picture.GetPixelFormat() == PixelFormat24bppRGB
                                            ? PixelFormat32bppARGB
                                            : PixelFormat32bppPARGB;
    Gdiplus::Rect all(0, 0, pixels.width, pixels.height);
    Gdiplus::BitmapData data = {
        UINT(pixels.width), UINT(pixels.height), pixels.width * 4, format, pixels.bits.get(), 0};
    picture.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf, format,
                     &data);
    picture.UnlockBits(&data);
}

double DecodeMs(const fs::path& file) {
    return MedianMs([&] { DecodeOnce(file); });
}

// The platform's floor for a present: one paint cycle of the window that copies a client-sized
// DIB section onto it, with a memory DC kept for it. Ending the paint is where Wine hands the
// window's pixels to the display, so a copy without it would not reach the screen.
double PaintBltMs() {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader,
                      app.view.clientWidth,
                      -app.view.clientHeight,
                      1,
                      32,
                      BI_RGB,
                      0,
                      0,
                      0,
                      0,
                      0};
    void* bits = nullptr;
    const HBITMAP section = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HDC memory = CreateCompatibleDC(app.windowDc);
    const HGDIOBJ old = SelectObject(memory, section);
    const double ms = MedianMs([&] {
        PAINTSTRUCT paint;
        BeginPaint(app.window, &paint);
        BitBlt(app.windowDc, 0, 0, app.view.clientWidth, app.view.clientHeight, memory, 0, 0,
               SRCCOPY);
        EndPaint(app.window, &paint);
    });
    SelectObject(memory, old);
    DeleteDC(memory);
    DeleteObject(section);
    return ms;
}

// The platform's floor for the window icons: the picture drawn at 16 and at 32 pixels.
double IconDrawsMs() {
    return MedianMs([] {
        for (int size : {16, 32}) {
            Gdiplus::Bitmap icon(size, size, PixelFormat32bppARGB);
            Gdiplus::Graphics graphics(&icon);
            graphics.SetInterpolationMode(Gdiplus::InterpolationModeLowQuality);
            graphics.DrawImage(platformPicture.get(), 0, 0, size, size);
        }
    });
}

// The window may be another process's.
void SizeClientArea(HWND window, int width, int height) {
    RECT outer = {0, 0, width, height};
    AdjustWindowRectEx(&outer, GetWindowLongW(window, GWL_STYLE), FALSE, 0);
    SetWindowPos(window, nullptr, 0, 0, outer.right - outer.left, outer.bottom - outer.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    PumpMessages();
}

// Composes and presents the view on show, as the window does after a command that changed it.
void Refresh() {
    app.changed.view = true;
    BringWindowUpToDate();
}

// Frames stay still: every figure is of one command, and a playing animation would keep the
// message queue from ever running dry. Returns once the picture is on show and the workers have
// read ahead.
void OpenViewerOn(const fs::path& file) {
    platformPicture = std::make_unique<Gdiplus::Image>(file.c_str());
    ShowFirst(file.c_str());
    OpenMainWindow();
    app.animate = false;
    SyncAnimationTimer();
    SizeClientArea(app.window, kClientWidth, kClientHeight);
    PumpUntil(PictureShown);
    WaitForWorkers();
    PumpMessages();
}

void CloseViewer() {
    ReleaseAllWork();
    DestroyWindow(app.window);
    PumpMessages();
    UnregisterClassW(L"Glim", GetModuleHandleW(nullptr));
    DestroyIcon(app.smallIcon);
    DestroyIcon(app.bigIcon);
    app = AppState{};
    platformPicture.reset();
}

// Back and forth, so that every step stays on the same part of the picture; the view ends
// where it began.
double PanStepsMs() {
    int direction = kPanStep;
    const double ms = MedianMs([&] {
        Pan(direction, direction);
        BringWindowUpToDate();
        direction = -direction;
    });
    if (direction < 0) {
        Pan(direction, direction);
        BringWindowUpToDate();
    }
    return ms;
}

// A pan step at a power-of-two scale needs new pixels only in the two uncovered strips: its
// floor is the view's scaled draw in proportion to them, and the paint that shows them.
void ReportPanSteps(const std::string& picture, const std::string& mode, double paint) {
    const double view = ScaledDrawMs();
    const Placement rect = ComputePlacement(app.view, app.onShow.picture);
    const long long shown = static_cast<long long>(std::min(rect.width, app.view.clientWidth)) *
                            std::min(rect.height, app.view.clientHeight);
    const long long uncovered =
        kPanStep * (app.view.clientWidth + app.view.clientHeight - kPanStep);
    Report(picture, "pan step, " + mode, PanStepsMs(), view * uncovered / shown + paint,
           "scaled draw of the uncovered strips + paint");
}

const fs::path kFolderOfTwo = fs::temp_directory_path() / L"glim-bench";

// A folder of two copies of the picture, so that each key press decodes and shows the other.
// Returns the first.
fs::path MakeFolderOfTwo(const fs::path& picturePath) {
    fs::remove_all(kFolderOfTwo);
    fs::create_directories(kFolderOfTwo);
    const fs::path file = kFolderOfTwo / (L"a" + picturePath.extension().wstring());
    fs::copy_file(picturePath, file);
    fs::copy_file(picturePath, kFolderOfTwo / (L"b" + picturePath.extension().wstring()));
    return file;
}

// A press returns at once: the window shows the entry asked for when a worker has it.
struct PressTimes {
    double preview, whole;  // key to the entry on screen (its preview, if it has one), and whole
};

// Sends a press of key and pumps the window's messages until the entry it asks for is on screen
// whole. The title and icons change in the same step as the pixels, so they are timed with them.
PressTimes PressMs(WPARAM key = VK_RIGHT) {
    const double start = NowMs();
    SendMessageW(app.window, WM_KEYDOWN, key, 0);
    PumpUntil([] { return !PressPending(); });
    const double preview = NowMs() - start;
    PumpUntil(PictureShown);
    return {preview, NowMs() - start};
}

// When the next press comes: with the workers stopped first, so that nothing was read ahead; at
// once after the picture before showed, while the workers read ahead; or once they are done.
enum Press { kWithoutReadAhead, kAtOnce, kReadAheadDone };

void PrepareForPress(Press when) {
    if (when == kWithoutReadAhead) ReleaseAllWork();
    if (when == kReadAheadDone) WaitForWorkers();
    // What the workers announced before the press is not the press's to take.
    PumpMessages();
}

// Medians of presses made when given; between runs untimed before each, once the press is
// prepared.
PressTimes NextPictureMs(
    Press when, const std::function<void()>& between = [] {}) {
    std::vector<double> preview, whole;
    for (int i = 0; i < runs; ++i) {
        PrepareForPress(when);
        between();
        const PressTimes times = PressMs();
        preview.push_back(times.preview);
        whole.push_back(times.whole);
    }
    std::sort(preview.begin(), preview.end());
    std::sort(whole.begin(), whole.end());
    return {preview[runs / 2], whole[runs / 2]};
}

// The keyboard's auto-repeat, from a thread of its own: Right held for kHeldMs at the usual 30
// presses a second, each marked as a repeat. Returns when the key was let go.
constexpr double kHeldMs = 5000;
double holdingStarted = 0, letGo = 0;

DWORD WINAPI RepeatRight(void* window) {
    for (holdingStarted = NowMs(); NowMs() - holdingStarted < kHeldMs; Sleep(33)) {
        PostMessageW(static_cast<HWND>(window), WM_KEYDOWN, VK_RIGHT, 1 << 30 | 1);
    }
    PostMessageW(static_cast<HWND>(window), WM_KEYUP, VK_RIGHT, 3 << 30 | 1);
    letGo = NowMs();
    return 0;
}

struct Held {
    double eachMs = 0;        // held time per title change while held
    double lastChangeMs = 0;  // from letting go to the last title change
    double wholeMs = 0;       // from letting go to the picture named on screen whole
    double privateMb[2] = {}, workingSetMb[2] = {};  // this process before, and the most while held
};

void SampleMemory(Held& held, int which) {
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(GetCurrentProcess(),
                              reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), memory.cb)) {
        return;
    }
    held.privateMb[which] = std::max(held.privateMb[which], memory.PagefileUsage / 1048576.0);
    held.workingSetMb[which] =
        std::max(held.workingSetMb[which], memory.WorkingSetSize / 1048576.0);
}

// Right held over the folder: the title changes (the entry on screen, as picture or preview)
// while it was held, then until the picture named shows whole after it was let go.
Held HoldRightOverFolder() {
    WaitForWorkers();
    PumpMessages();
    Held held;
    SampleMemory(held, 0);
    const HANDLE holder = CreateThread(nullptr, 0, RepeatRight, app.window, 0, nullptr);
    std::vector<double> changes;
    double settled = 0;
    for (double sampled = 0;;) {
        MSG message;
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            const int before = app.currentIndex;
            TranslateMessage(&message);
            DispatchMessageW(&message);
            if (app.currentIndex != before) changes.push_back(NowMs());
            continue;
        }
        if (NowMs() - sampled > 5) {
            SampleMemory(held, 1);
            sampled = NowMs();
        }
        MsgWaitForMultipleObjects(1, &holder, FALSE, 1, QS_ALLINPUT);
        if (WaitForSingleObject(holder, 0) != WAIT_OBJECT_0) continue;
        if (PictureShown() || NowMs() - letGo > 30000) {
            GdiFlush();
            settled = NowMs();
            break;
        }
    }
    CloseHandle(holder);
    const long whileHeld = std::count_if(changes.begin(), changes.end(),
                                         [](double change) { return change <= letGo; });
    held.eachMs = (letGo - holdingStarted) / std::max(whileHeld, 1L);
    held.lastChangeMs = changes.empty() ? 0 : std::max(0.0, changes.back() - letGo);
    held.wholeMs = settled - letGo;
    return held;
}

void ReportHeldKey(const std::string& picture, double decode, double pictureMs) {
    const Held held = HoldRightOverFolder();
    Report(picture, "held Right 5 s, each picture", held.eachMs, decode, "decode into own pixels");
    Report(picture, "held Right 5 s, let go to last change", held.lastChangeMs, pictureMs,
           "decode into own pixels + scaled draw + paint + icon draws");
}

// A frame step on the window, and the frame's decode alone, by GDI+ and by the system's codecs
// (which decode what GDI+ refuses).
void ReportFrameSteps(const std::string& picture, const fs::path& file, double floor) {
    Report(picture, "frame step, fit: select, compose, present", MedianMs([] {
               StepFrame(+1);
               BringWindowUpToDate();
           }),
           floor, "scaled draw + paint");
    int frame = 0;
    const double gdiplus = MedianMs([&] { SelectFrame(app.onShow.picture, ++frame % 2); });
    ReadResult opened;
    FileStream* const stream = OpenFileStream(file.c_str(), opened);
    Picture decoded;
    // Frames of several sizes do not play: such a file has none to step through.
    if (stream && DecodeWithCodecs(decoded, stream, LLONG_MAX) == LoadResult::kLoaded &&
        decoded.frameCount > 1) {
        Report(picture, "frame decode by the system's codecs",
               MedianMs([&] { SelectCodecFrame(decoded, ++frame % 2); }), gdiplus,
               "frame decode by GDI+");
    }
    if (stream) AsStream(stream)->Release();
}

// Everything measured on the viewer's own window, in this process, in a folder of two copies.
void MeasureViewer(const fs::path& picturePath) {
    const std::string picture = picturePath.filename().string();
    const fs::path file = MakeFolderOfTwo(picturePath);

    const double decode = DecodeMs(file);
    Report(picture, "load", MedianMs([&] { LoadImageFile(app.onShow.picture, file.c_str()); }),
           decode, "decode into own pixels");

    OpenViewerOn(file);
    SetFitMode(true);
    BringWindowUpToDate();
    const double fitDraw = ScaledDrawMs();
    Report(picture, "first composition, fit",
           MedianMs([] { ComposeBackBuffer(app.onShow, app.view); },
                    [&] { LoadImageFile(app.onShow.picture, file.c_str()); }),
           fitDraw, "scaled draw");
    Refresh();
    const double paint = PaintBltMs();
    Report(picture, "present", MedianMs(Present), paint, "paint of a DIB section");
    const double fitPans = PanStepsMs();
    Report(picture, "pan step, fit", fitPans, fitDraw + paint, "scaled draw + paint");

    // Each step doubles the pan too, so every run starts centred.
    const double zoomStep = MedianMs(
        [] {
            ZoomStep(+1);
            BringWindowUpToDate();
        },
        [] {
            app.view.panX = 0;
            app.view.panY = 0;
            SetFitMode(true);
            BringWindowUpToDate();
            Refresh();
        });
    Report(picture, "zoom step, fit to 2x fit", zoomStep, ScaledDrawMs() + paint,
           "scaled draw + paint");
    const double zoomBack = MedianMs(
        [] {
            ZoomStep(-1);
            BringWindowUpToDate();
        },
        [] {
            SetFitMode(true);
            BringWindowUpToDate();
            ZoomStep(+1);
            BringWindowUpToDate();
        });
    Report(picture, "zoom step, 2x fit to fit", zoomBack, fitDraw + paint, "scaled draw + paint");
    ZoomStep(+1);
    BringWindowUpToDate();
    Report(picture, "smoothing toggle, 2x fit", MedianMs([] {
               ToggleSmoothing();
               BringWindowUpToDate();
           }),
           ScaledDrawMs() + paint, "scaled draw + paint");
    if (!app.view.smoothScaling) {
        ToggleSmoothing();
        BringWindowUpToDate();
    }
    // Off the powers of two every pixel is sampled anew wherever the picture lies.
    const double oddPans = PanStepsMs();
    Report(picture, "pan step, 2x fit", oddPans, ScaledDrawMs() + paint, "scaled draw + paint");
    ActualSize();
    BringWindowUpToDate();
    ReportPanSteps(picture, "zoom 1", paint);
    ZoomStep(+1);
    BringWindowUpToDate();
    ReportPanSteps(picture, "zoom 2", paint);

    SetFitMode(true);
    BringWindowUpToDate();
    Refresh();
    if (app.onShow.picture.frameCount > 1) ReportFrameSteps(picture, file, fitDraw + paint);
    const double icons = IconDrawsMs();
    Report(picture, "the two icons", MedianMs([] {
               DestroyIcon(MakeImageIcon(app.onShow.picture, 16));
               DestroyIcon(MakeImageIcon(app.onShow.picture, 32));
           }),
           icons, "icon draws");
    const PressTimes without = NextPictureMs(kWithoutReadAhead);
    Report(picture, "next picture without read-ahead, key to pixels, title and icons",
           without.whole, decode, "decode into own pixels");
    const PressTimes atOnce = NextPictureMs(kAtOnce);
    Report(picture, "next picture at once, key to pixels, title and icons", atOnce.whole,
           without.whole, "the same without read-ahead");
    const PressTimes readAhead = NextPictureMs(kReadAheadDone);
    Report(picture, "next picture read ahead, key to pixels, title and icons", readAhead.whole,
           paint, "paint of a DIB section");
    ReportHeldKey(picture, decode, decode + fitDraw + paint + icons);
    CloseViewer();
    fs::remove_all(kFolderOfTwo);
}

// A photo tagged to be shown turned (orientation 6) beside the same photo untagged: loaded, and
// shown fitted as the next picture of its folder without read-ahead.
void MeasureTurnedPhoto(const fs::path& plain, const fs::path& turned) {
    std::vector<double> load, next;
    for (const fs::path& picturePath : {plain, turned}) {
        const fs::path file = MakeFolderOfTwo(picturePath);
        load.push_back(MedianMs([&] { LoadImageFile(app.onShow.picture, file.c_str()); }));
        OpenViewerOn(file);
        SetFitMode(true);
        BringWindowUpToDate();
        Refresh();
        next.push_back(NextPictureMs(kWithoutReadAhead).whole);
        CloseViewer();
    }
    const std::string picture = turned.filename().string();
    Report(picture, "load, turned upright", load[1], load[0], "load of the photo untagged");
    Report(picture, "next picture, turned upright", next[1], next[0],
           "next picture of the photo untagged");
    fs::remove_all(kFolderOfTwo);
}

// Reads the screen where the window's client centre is.
COLORREF CentrePixel(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    POINT centre = {client.right / 2, client.bottom / 2};
    ClientToScreen(window, &centre);
    const HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, centre.x, centre.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

struct Started {
    double ms = 0;
    SIZE_T peakPrivateBytes = 0;
    SIZE_T peakWorkingSet = 0;
};

// Starts the process and waits for its window to show pixels other than the empty screen's;
// returns the window, or nullptr.
HWND StartShowing(std::wstring commandLine, const wchar_t* className,
                  PROCESS_INFORMATION& process) {
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return nullptr;
    }
    HWND window = nullptr;
    const bool shown = WaitUntil(
        [&] {
            window = FindWindowW(className, nullptr);
            return window && IsWindowVisible(window) && CentrePixel(window) != RGB(0, 0, 0);
        },
        20000);
    return shown ? window : nullptr;
}

void EndProcess(PROCESS_INFORMATION& process) {
    if (!process.hProcess) return;
    TerminateProcess(process.hProcess, 0);
    WaitForSingleObject(process.hProcess, 5000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    Sleep(200);
}

// From starting the process to its window showing pixels other than the empty screen's.
// The peak memory is read settleMs after the pixels showed.
Started TimeStart(std::wstring commandLine, const wchar_t* className, int settleMs = 0) {
    const double start = NowMs();
    PROCESS_INFORMATION process = {};
    Started started;
    const bool shown = StartShowing(commandLine, className, process);
    if (!process.hProcess) return started;
    started.ms = shown ? NowMs() - start : 0;
    Sleep(settleMs);
    PROCESS_MEMORY_COUNTERS_EX memory = {};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(process.hProcess, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                             memory.cb)) {
        started.peakPrivateBytes = memory.PeakPagefileUsage;
        started.peakWorkingSet = memory.PeakWorkingSetSize;
    }
    EndProcess(process);
    return started;
}

std::wstring Quoted(const fs::path& path) {
    return L"\"" + path.wstring() + L"\"";
}

// A file that is no picture: a video's header, then nothing up to its size.
void WriteVideo(const fs::path& path, uintmax_t bytes) {
    std::ofstream(path, std::ios::binary) << std::string(
        "\0\0\0\x20"
        "ftypisom\0\0\x02\0",
        16);
    fs::resize_file(path, bytes);
}

// The picture twice, with a video after each: a 4 kB one after the first, a 400 MB one after
// the second, so that presses to the right cross them by turns. Returns the first picture.
fs::path MakeFolderWithVideos(const fs::path& picturePath) {
    const fs::path file = MakeFolderOfTwo(picturePath);
    const std::wstring extension = file.extension().wstring();
    fs::rename(kFolderOfTwo / (L"b" + extension), kFolderOfTwo / (L"c" + extension));
    WriteVideo(kFolderOfTwo / L"b.mp4", 4096);
    WriteVideo(kFolderOfTwo / L"d.mp4", 400 << 20);
    return file;
}

// Medians of the presses to the right past the 4 kB video and past the 400 MB one, taken by
// turns in one run.
std::pair<double, double> PressesPastVideosMs(Press when) {
    std::vector<double> ms[2];
    for (int i = 0; i < 2 * runs; ++i) {
        PrepareForPress(when);
        ms[i % 2].push_back(PressMs().whole);
    }
    for (std::vector<double>& each : ms) std::sort(each.begin(), each.end());
    return {ms[0][runs / 2], ms[1][runs / 2]};
}

// The next picture past a 400 MB video beside the same past a 4 kB one, with and without
// read-ahead, and the peak memory of glim.exe started before each, once its read-ahead has
// crossed the video.
void MeasureVideoCrossing(const fs::path& picturePath, const fs::path& glim) {
    const std::string picture = picturePath.filename().string();
    const fs::path first = MakeFolderWithVideos(picturePath);
    OpenViewerOn(first);
    SetFitMode(true);
    BringWindowUpToDate();
    Refresh();
    const auto [without4k, without400m] = PressesPastVideosMs(kWithoutReadAhead);
    const auto [readAhead4k, readAhead400m] = PressesPastVideosMs(kReadAheadDone);
    CloseViewer();
    Report(picture, "next past a 400 MB video, without read-ahead", without400m, without4k,
           "the same past a 4 kB one");
    Report(picture, "next past a 400 MB video, read ahead", readAhead400m, readAhead4k,
           "the same past a 4 kB one");
    // What GDI+ refuses, the system's codecs look at too.
    const fs::path video = kFolderOfTwo / L"b.mp4";
    Report("b.mp4, 4 kB", "load of a file that is no picture",
           MedianMs([&] { LoadImageFile(app.onShow.picture, video.c_str()); }),
           MedianMs([&] { Gdiplus::Image refused(video.c_str()); }), "GDI+ refusing it");
    const std::pair<const char*, fs::path> starts[] = {
        {", a 4 kB video after it", first},
        {", a 400 MB video after it", kFolderOfTwo / (L"c" + first.extension().wstring())}};
    for (const auto& [what, file] : starts) {
        const Started started = TimeStart(Quoted(glim) + L" " + Quoted(file), L"Glim", 6000);
        peaks.push_back({picture + what, started.peakPrivateBytes / 1048576.0,
                         started.peakWorkingSet / 1048576.0});
    }
    fs::remove_all(kFolderOfTwo);
}

// Started in a folder of two copies, so that the peak memory, read once the read-ahead has had
// time to finish, holds the picture on show and the one prepared.
void MeasureStart(const fs::path& picturePath, const fs::path& glim) {
    const std::string picture = picturePath.filename().string();
    const fs::path file = MakeFolderOfTwo(picturePath);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<double> plain, viewer;
    Started last;
    for (int i = 0; i < runs; ++i) {
        plain.push_back(TimeStart(Quoted(self) + L" --plain-window", L"GlimBenchPlain").ms);
        last = TimeStart(Quoted(glim) + L" " + Quoted(file), L"Glim", i == runs - 1 ? 6000 : 0);
        viewer.push_back(last.ms);
    }
    std::sort(plain.begin(), plain.end());
    std::sort(viewer.begin(), viewer.end());
    OpenViewerOn(file);
    const double work = DecodeMs(file) + ScaledDrawMs();
    CloseViewer();
    fs::remove_all(kFolderOfTwo);
    Report(picture, "start to first picture", viewer[runs / 2], plain[runs / 2] + work,
           "window start + decode into own pixels + scaled draw");
    peaks.push_back({picture + ", a copy beside it", last.peakPrivateBytes / 1048576.0,
                     last.peakWorkingSet / 1048576.0});
}

// A folder of count hard links to one copy of the picture (copies where links cannot be made),
// so that each press meets a file not decoded before. Returns them in the order listed.
std::vector<fs::path> MakeFolderOfLinks(const fs::path& folder, const fs::path& picturePath,
                                        int count) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::wstring extension = picturePath.extension().wstring();
    std::vector<fs::path> links = {folder / (L"c000" + extension)};
    fs::copy_file(picturePath, links[0]);
    for (int i = 1; i < count; ++i) {
        wchar_t name[16];
        std::swprintf(name, 16, L"c%03d", i);
        links.push_back(folder / (name + extension));
        std::error_code error;
        fs::create_hard_link(links[0], links[i], error);
        if (error) fs::copy_file(links[0], links[i]);
    }
    return links;
}

struct HeldPeak {
    std::string folder;
    Held held;
};
std::vector<HeldPeak> heldPeaks;

// glim.exe started on the first of the folder, with Right held over it for 5 s: its peak memory
// 2 s after the key was let go.
void MeasureHeldPeak(const fs::path& first, const fs::path& glim, const std::string& folder) {
    PROCESS_INFORMATION process = {};
    if (const HWND window = StartShowing(Quoted(glim) + L" " + Quoted(first), L"Glim", process)) {
        const HANDLE holder = CreateThread(nullptr, 0, RepeatRight, window, 0, nullptr);
        WaitForSingleObject(holder, INFINITE);
        CloseHandle(holder);
        Sleep(2000);
        PROCESS_MEMORY_COUNTERS_EX memory = {};
        memory.cb = sizeof memory;
        if (GetProcessMemoryInfo(process.hProcess,
                                 reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), memory.cb)) {
            peaks.push_back({folder + ", Right held 5 s from the first",
                             memory.PeakPagefileUsage / 1048576.0,
                             memory.PeakWorkingSetSize / 1048576.0});
        }
    }
    EndProcess(process);
}

// The viewer on the file, fitted, without the platform's copy of the picture that only the floors
// of drawing need.
void OpenFitted(const fs::path& file) {
    OpenViewerOn(file);
    platformPicture.reset();
    SetFitMode(true);
    BringWindowUpToDate();
    Refresh();
}

// A press to the photo that was not read ahead, to its preview on screen and to the picture
// whole, the decode's floor taken by turns with the presses: both meet the machine alike.
void MeasureColdPress(const fs::path& photo) {
    const std::string picture = photo.filename().string();
    const fs::path file = MakeFolderOfTwo(photo);
    OpenFitted(file);
    const double paint = PaintBltMs();
    std::vector<double> decodes;
    const PressTimes cold = NextPictureMs(kWithoutReadAhead, [&] {
        const double start = NowMs();
        DecodeOnce(file);
        decodes.push_back(NowMs() - start);
    });
    std::sort(decodes.begin(), decodes.end());
    CloseViewer();
    Report(picture, "press to its preview on screen, not read ahead", cold.preview, paint,
           "paint of a DIB section");
    Report(picture, "press to the picture whole, not read ahead", cold.whole,
           decodes[decodes.size() / 2], "decode into own pixels");
}

// The photo with and without its Exif thumbnail: a press that was not read ahead; then Right held
// over a folder of cold copies.
void MeasureColdPhotos(const fs::path& withPreview, const fs::path& without, const fs::path& glim) {
    MeasureColdPress(withPreview);
    MeasureColdPress(without);
    constexpr int kCopies = 160;
    for (const fs::path& picturePath : {withPreview, without}) {
        const std::string name = picturePath.filename().string();
        const fs::path first = MakeFolderOfLinks(kFolderOfTwo, picturePath, kCopies).front();
        const double photoDecode = DecodeMs(first);
        OpenFitted(first);
        const Held held = HoldRightOverFolder();
        CloseViewer();
        const std::string folder = name + ", " + std::to_string(kCopies) + " cold copies";
        Report(folder, "held Right 5 s, each picture shown", held.eachMs, photoDecode,
               "decode into own pixels");
        Report(folder, "held Right 5 s, let go to the picture whole", held.wholeMs, photoDecode,
               "decode into own pixels");
        std::fprintf(stderr, "%s: %.1f pictures a second while held\n", folder.c_str(),
                     1000 / held.eachMs);
        heldPeaks.push_back({folder, held});
        MeasureHeldPeak(first, glim, folder);
    }
    fs::remove_all(kFolderOfTwo);
}

// From start to the first pixels on screen of the photo (its preview) and of a small picture,
// each started in a folder of two copies, beside the bare window, by turns in one run.
void MeasureStartToPixels(const fs::path& photo, const fs::path& small, const fs::path& glim) {
    const fs::path photoFile = MakeFolderOfLinks(kFolderOfTwo / L"photo", photo, 2).front();
    const fs::path smallFile = MakeFolderOfLinks(kFolderOfTwo / L"small", small, 2).front();
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::vector<double> ms[3];
    for (int i = 0; i < runs; ++i) {
        ms[0].push_back(TimeStart(Quoted(self) + L" --plain-window", L"GlimBenchPlain").ms);
        ms[1].push_back(TimeStart(Quoted(glim) + L" " + Quoted(photoFile), L"Glim").ms);
        ms[2].push_back(TimeStart(Quoted(glim) + L" " + Quoted(smallFile), L"Glim").ms);
    }
    for (std::vector<double>& each : ms) std::sort(each.begin(), each.end());
    fs::remove_all(kFolderOfTwo);
    Report(photo.filename().string(), "start to first pixels (its preview)", ms[1][runs / 2],
           ms[0][runs / 2], "window start");
    Report(small.filename().string(), "start to first pixels", ms[2][runs / 2], ms[0][runs / 2],
           "window start");
}

// glim.exe started on a small picture: Escape, 400 ms after a press of Right (when the entry
// after it is a big picture, so 400 ms into its decode), to the process gone.
double EscapeMs(const fs::path& glim, const fs::path& file, bool pressRight) {
    PROCESS_INFORMATION process = {};
    const HWND window = StartShowing(Quoted(glim) + L" " + Quoted(file), L"Glim", process);
    double ms = 0;
    if (window) {
        if (pressRight) PostMessageW(window, WM_KEYDOWN, VK_RIGHT, 0);
        Sleep(400);
        const double start = NowMs();
        PostMessageW(window, WM_KEYDOWN, VK_ESCAPE, 0);
        if (WaitForSingleObject(process.hProcess, 30000) == WAIT_OBJECT_0) ms = NowMs() - start;
    }
    EndProcess(process);
    return ms;
}

// Escape during the big picture's decode, beside Escape on the small picture alone in its folder.
void MeasureEscape(const fs::path& small, const fs::path& big, const fs::path& glim) {
    fs::remove_all(kFolderOfTwo);
    fs::create_directories(kFolderOfTwo);
    const fs::path file = kFolderOfTwo / (L"a" + small.extension().wstring());
    fs::copy_file(small, file);
    std::vector<double> idle, decoding;
    for (int i = 0; i < runs; ++i) idle.push_back(EscapeMs(glim, file, false));
    fs::copy_file(big, kFolderOfTwo / (L"b" + big.extension().wstring()));
    for (int i = 0; i < runs; ++i) decoding.push_back(EscapeMs(glim, file, true));
    fs::remove_all(kFolderOfTwo);
    std::sort(idle.begin(), idle.end());
    std::sort(decoding.begin(), decoding.end());
    Report(big.filename().string(), "Escape 400 ms into its decode, to the process gone",
           decoding[runs / 2], idle[runs / 2], "Escape with nothing decoding");
}

// Presses timed from outside, on glim.exe as a user meets it: the key posted to its window, to its
// title naming the entry asked for (it changes in the same step as the pixels and icons).
constexpr int kIdleMs = 3000;
// Long enough for what the viewer read ahead on opening to be done, as a user pausing on a photo.
constexpr int kLongIdleMs = 8000;
constexpr int kTitleTimeoutMs = 30000;

double Median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

bool TitleNames(HWND window, const fs::path& entry) {
    wchar_t title[MAX_PATH] = {};
    GetWindowTextW(window, title, MAX_PATH);
    return entry.filename().wstring() == title;
}

// From the key posted to the title naming the entry; 0 when it did not.
double KeyToTitleMs(HWND window, WPARAM key, const fs::path& entry) {
    const double start = NowMs();
    PostMessageW(window, WM_KEYDOWN, key, 1);
    PostMessageW(window, WM_KEYUP, key, 3 << 30 | 1);
    return WaitUntil([&] { return TitleNames(window, entry); }, kTitleTimeoutMs) ? NowMs() - start
                                                                                 : 0;
}

// glim.exe started on the file, fitted on a client area of the bench's size; nullptr when its
// window did not show. The process is to be ended whatever this returns.
HWND StartFitted(const fs::path& glim, const fs::path& file, PROCESS_INFORMATION& process) {
    const HWND window = StartShowing(Quoted(glim) + L" " + Quoted(file), L"Glim", process);
    if (window) SizeClientArea(window, kClientWidth, kClientHeight);
    return window;
}

// small.png, the photo, the 12 MP PNG and a small JPEG, listed in that order.
std::vector<fs::path> MakeMixedFolder(const fs::path& pictures) {
    fs::remove_all(kFolderOfTwo);
    fs::create_directories(kFolderOfTwo);
    std::vector<fs::path> entries;
    for (const wchar_t* name : {L"small.png", L"photo-24mp.jpg", L"rgba-large.png", L"small.jpg"}) {
        entries.push_back(kFolderOfTwo / (std::to_wstring(entries.size() + 1) + L"-" + name));
        fs::copy_file(pictures / name, entries.back());
    }
    return entries;
}

struct Returns {
    double onto = 0, back = 0;
};

// Started on the first entry and walked Right round once: Right after idle onto the photo, then
// Left after idle back to the picture just left.
Returns RightAndBackMs(const fs::path& glim, const std::vector<fs::path>& entries) {
    PROCESS_INFORMATION process = {};
    Returns ms;
    const HWND window = StartFitted(glim, entries[0], process);
    bool walked = window != nullptr;
    for (size_t i = 1; walked && i <= entries.size(); ++i) {
        walked = KeyToTitleMs(window, VK_RIGHT, entries[i % entries.size()]) > 0;
    }
    if (walked) {
        Sleep(kIdleMs);
        ms.onto = KeyToTitleMs(window, VK_RIGHT, entries[1]);
        Sleep(kIdleMs);
        if (ms.onto) ms.back = KeyToTitleMs(window, VK_LEFT, entries[0]);
    }
    EndProcess(process);
    return ms;
}

// Started on the 10th copy; after idle, Home onto the first, which nothing read ahead, so that
// the next copy's read-ahead begins only as it shows; 300 ms after, Right onto that one. (A
// press onto a copy read ahead would leave the next one read ahead too.)
double RightAfterSettledMs(const fs::path& glim, const std::vector<fs::path>& copies) {
    PROCESS_INFORMATION process = {};
    double ms = 0;
    if (const HWND window = StartFitted(glim, copies[9], process)) {
        Sleep(kIdleMs);
        if (KeyToTitleMs(window, VK_HOME, copies[0])) {
            Sleep(300);
            ms = KeyToTitleMs(window, VK_RIGHT, copies[1]);
        }
    }
    EndProcess(process);
    return ms;
}

// Started on the 10th copy; after idle, End onto the last, which nothing read ahead.
double EndMs(const fs::path& glim, const std::vector<fs::path>& copies) {
    PROCESS_INFORMATION process = {};
    double ms = 0;
    if (const HWND window = StartFitted(glim, copies[9], process)) {
        Sleep(kLongIdleMs);
        ms = KeyToTitleMs(window, VK_END, copies.back());
    }
    EndProcess(process);
    return ms;
}

struct PhotoFloors {
    double paint, fitDraw;
};

// On the viewer's own window in this process, closed again before glim.exe starts: its window
// would answer to the same class name.
PhotoFloors MeasurePhotoFloors(const fs::path& photo) {
    OpenViewerOn(MakeFolderOfTwo(photo));
    SetFitMode(true);
    BringWindowUpToDate();
    Refresh();
    const PhotoFloors floors = {PaintBltMs(), ScaledDrawMs()};
    CloseViewer();
    fs::remove_all(kFolderOfTwo);
    return floors;
}

// In a folder of mixed sizes: Right onto a photo read ahead, and Left back to the picture just
// left.
void MeasureReturns(const fs::path& pictures, const fs::path& glim, double paint) {
    const std::vector<fs::path> entries = MakeMixedFolder(pictures);
    std::vector<double> onto, back;
    for (int i = 0; i < runs; ++i) {
        const Returns ms = RightAndBackMs(glim, entries);
        onto.push_back(ms.onto);
        back.push_back(ms.back);
    }
    fs::remove_all(kFolderOfTwo);
    Report("photo-24mp.jpg, mixed folder", "Right after 3 s idle onto it, key to title",
           Median(onto), paint, "paint of a DIB section");
    Report("small.png, mixed folder",
           "Left after 3 s idle back to the picture just left, key to title", Median(back), paint,
           "paint of a DIB section");
}

// Over cold copies of the photo: a press while its read-ahead is under way, and one onto a copy
// nobody read ahead, the photo's decode taken by turns with them.
void MeasureColdPresses(const fs::path& photo, const fs::path& glim, double fitDraw) {
    constexpr int kCopies = 40;
    const std::vector<fs::path> copies = MakeFolderOfLinks(kFolderOfTwo, photo, kCopies);
    std::vector<double> settled, end, decode;
    for (int i = 0; i < runs; ++i) {
        settled.push_back(RightAfterSettledMs(glim, copies));
        end.push_back(EndMs(glim, copies));
        const double start = NowMs();
        DecodeOnce(copies.back());
        decode.push_back(NowMs() - start);
    }
    fs::remove_all(kFolderOfTwo);
    const std::string folder = "photo-24mp.jpg, " + std::to_string(kCopies) + " cold copies";
    Report(folder, "Right 0.3 s after the picture before settled (Home onto it), key to title",
           Median(settled), Median(decode) + fitDraw, "decode into own pixels + scaled draw");
    Report(folder, "End after 8 s idle onto a photo nobody read ahead, key to title", Median(end),
           Median(decode), "decode into own pixels");
}

void MeasurePressesFromOutside(const fs::path& pictures, const fs::path& glim) {
    const fs::path photo = pictures / L"photo-24mp.jpg";
    const PhotoFloors floors = MeasurePhotoFloors(photo);
    MeasureReturns(pictures, glim, floors.paint);
    MeasureColdPresses(photo, glim, floors.fitDraw);
}

// Opened as the workers open it, and read as far as the header that declares its pixels.
double HeaderProbeMs(const fs::path& file) {
    return MedianMs([&] {
        ReadResult opened;
        if (FileStream* const stream = OpenFileStream(file.c_str(), opened)) {
            ReadDeclaredPixels(AsStream(stream));
            AsStream(stream)->Release();
        }
    });
}

double FirstBytesMs(const fs::path& file) {
    std::vector<char> bytes(64 * 1024);
    return MedianMs([&] {
        const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD read = 0;
        ReadFile(handle, bytes.data(), DWORD(bytes.size()), &read, nullptr);
        CloseHandle(handle);
    });
}

// What a read-ahead pays to learn whether a picture fits before it decodes.
void MeasureHeaderProbes(const fs::path& pictures) {
    for (const wchar_t* name : {L"photo-24mp.jpg", L"photo-24mp-thumb.jpg", L"rgba-large.png",
                                L"animated.gif", L"quarters-256mp.png", L"small.png"}) {
        const fs::path file = pictures / name;
        Report(file.filename().string(), "header probe: the pixels it declares",
               HeaderProbeMs(file), FirstBytesMs(file), "open and read of its first 64 kB");
    }
}

void PrintTable() {
    std::printf("| picture | operation | median ms | floor ms | floor | ratio |\n");
    std::printf("|---|---|---:|---:|---|---:|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %s | %.2f | %.2f | %s | %.2f |\n", row.picture.c_str(),
                    row.operation.c_str(), row.ms, row.floorMs, row.floor,
                    row.floorMs > 0 ? row.ms / row.floorMs : 0.0);
    }
    std::printf(
        "\n| picture, 6 s after start in its folder (2 s after Right was let go) | glim.exe peak "
        "private MB | peak working set MB |\n");
    std::printf("|---|---:|---:|\n");
    for (const Peak& peak : peaks) {
        std::printf("| %s | %.1f | %.1f |\n", peak.picture.c_str(), peak.privateMb,
                    peak.workingSetMb);
    }
    std::printf(
        "\n| held Right 5 s over, in the benchmark's own process | private MB before | "
        "most private MB | working set MB before | most working set MB |\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    for (const HeldPeak& peak : heldPeaks) {
        const Held& held = peak.held;
        std::printf("| %s | %.1f | %.1f | %.1f | %.1f |\n", peak.folder.c_str(), held.privateMb[0],
                    held.privateMb[1], held.workingSetMb[0], held.workingSetMb[1]);
    }
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

// A window of the platform's own making, painted white by its class brush.
int RunPlainWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = L"GlimBenchPlain";
    RegisterClassW(&windowClass);
    const HWND window = CreateWindowW(L"GlimBenchPlain", L"plain", WS_OVERLAPPEDWINDOW,
                                      CW_USEDEFAULT, CW_USEDEFAULT, 640, 480, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    return 0;
}

// WIC's own decode of the photo at 24 bits, and the viewer's steps after it, each run by turns with
// a whole load so that all meet the machine alike.
struct LoadSteps {
    std::vector<double> load, decode, copy, firstTouch, widen, widenTurned, reduce;
};

// As a load widens the rows it copies, about 1 MB of them at a time.
void WidenInBands(const std::vector<BYTE>& bgr, UINT width, UINT height, int orientation,
                  Pixels& upright) {
    const int bandRows = std::max(1, int((1 << 20) / (width * 3)));
    for (int y = 0; y < int(height); y += bandRows) {
        WidenUpright(bgr.data() + size_t(y) * width * 3, width * 3, y,
                     std::min(bandRows, int(height) - y), orientation, upright);
    }
}

// The pixels, widened into fresh memory (as a load does) turned as orientation asks.
Pixels TimeWiden(const std::vector<BYTE>& bgr, UINT width, UINT height, int orientation,
                 std::vector<double>& ms) {
    Pixels upright = AllocateUpright(int(width), int(height), orientation);
    const double start = NowMs();
    WidenInBands(bgr, width, height, orientation, upright);
    ms.push_back(NowMs() - start);
    return upright;
}

void TimeLoadSteps(const fs::path& file, LoadSteps& steps) {
    double start = NowMs();
    LoadImageFile(app.onShow.picture, file.c_str());
    steps.load.push_back(NowMs() - start);
    app.onShow.picture = Picture();
    IWICImagingFactory* factory = nullptr;
    IWICBitmapDecoder* decoder = nullptr;
    IWICBitmapFrameDecode* frame = nullptr;
    CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                     IID_PPV_ARGS(&factory));
    start = NowMs();
    factory->CreateDecoderFromFilename(file.c_str(), nullptr, GENERIC_READ,
                                       WICDecodeMetadataCacheOnDemand, &decoder);
    decoder->GetFrame(0, &frame);
    steps.decode.push_back(NowMs() - start);
    UINT width = 0, height = 0;
    frame->GetSize(&width, &height);
    std::vector<BYTE> bgr(size_t(width) * 3 * height);
    start = NowMs();
    frame->CopyPixels(nullptr, width * 3, UINT(bgr.size()), bgr.data());
    steps.copy.push_back(NowMs() - start);
    frame->Release();
    decoder->Release();
    factory->Release();
    // Memory never touched before costs a fault a page, paid by whatever writes it first.
    const Pixels fresh = AllocatePixels(int(width), int(height));
    start = NowMs();
    std::memset(fresh.bits.get(), 0xFF, size_t(width) * height * 4);
    steps.firstTouch.push_back(NowMs() - start);
    TimeWiden(bgr, width, height, 6, steps.widenTurned);
    Reductions levels(1);
    levels[0] = TimeWiden(bgr, width, height, 1, steps.widen);
    start = NowMs();
    MakeReductions(levels);
    steps.reduce.push_back(NowMs() - start);
}

// Returns WIC's own decode of the photo at 24 bpp.
double MeasureLoadSteps(const fs::path& photo) {
    const std::string picture = photo.filename().string() + ", steps";
    LoadSteps steps;
    for (int i = 0; i < runs; ++i) TimeLoadSteps(photo, steps);
    const double gdiplus = DecodeMs(photo);
    const double load = Median(steps.load), widen = Median(steps.widen);
    const double wic = Median(steps.decode) + Median(steps.copy);
    Report(picture, "full load by WIC at 24 bpp", load, gdiplus, "decode into own pixels");
    Report(picture, "full load by WIC at 24 bpp", load, wic, "WIC's own decode at 24 bpp");
    Report(picture, "step: WIC decoder and frame", Median(steps.decode), load, "full load");
    Report(picture, "step: copy at 24 bpp", Median(steps.copy), load, "full load");
    Report(picture, "step: widen into fresh pixels", widen, Median(steps.firstTouch),
           "first touch of fresh pixels");
    Report(picture, "step: widen, turned a quarter", Median(steps.widenTurned), widen,
           "widen unturned");
    Report(picture, "step: reductions", Median(steps.reduce), load, "full load");
    return wic;
}

// The viewer's own decode of a photo at an eighth of its size, from its bytes in memory, beside
// the system codecs' whole decode of it (wicDecodeMs).
void MeasureOwnPreview(const fs::path& photo, double wicDecodeMs) {
    std::ifstream file(photo, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    const double own = MedianMs([&] {
        Pixels pixels;
        DecodeReducedJpeg(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                          LLONG_MAX, {}, pixels);
    });
    char operation[80];
    std::snprintf(operation, sizeof operation, "own decode at 1/8, %.1f MB (%.1f ms a MB)",
                  bytes.size() / 1048576.0, own * 1048576.0 / bytes.size());
    Report(photo.filename().string(), operation, own, wicDecodeMs, "WIC's own decode at 24 bpp");
}

// Every section but the presses timed from outside and the header probes.
void MeasureTheRest(const fs::path& folder, const fs::path& glim) {
    MeasureOwnPreview(folder / L"photo-24mp.jpg", MeasureLoadSteps(folder / L"photo-24mp.jpg"));
    for (const wchar_t* name : {L"photo-24mp.jpg", L"rgba-large.png", L"animated.gif"}) {
        MeasureViewer(folder / name);
        MeasureStart(folder / name, glim);
    }
    MeasureTurnedPhoto(folder / L"photo-24mp.jpg", folder / L"photo-24mp-turned.jpg");
    MeasureVideoCrossing(folder / L"animated.gif", glim);
    MeasureColdPhotos(folder / L"photo-24mp-thumb.jpg", folder / L"photo-24mp.jpg", glim);
    MeasureStartToPixels(folder / L"photo-24mp-thumb.jpg", folder / L"small.png", glim);
    // The 32-bit build decodes pictures up to about 185 MP.
    MeasureEscape(folder / L"small.png",
                  folder / (sizeof(void*) == 8 ? L"quarters-256mp.png" : L"quarters-185mp.png"),
                  glim);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 2 && !std::wcscmp(argv[1], L"--plain-window")) return RunPlainWindow();
    if (argc < 3) {
        std::fprintf(stderr, "usage: glim_bench PICTURE_FOLDER GLIM_EXE [RUNS [--outside]]\n");
        return 2;
    }
    if (argc > 3) runs = std::max(1, _wtoi(argv[3]));
    const fs::path folder = argv[1], glim = argv[2];
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    if (argc < 5 || std::wcscmp(argv[4], L"--outside")) MeasureTheRest(folder, glim);
    MeasurePressesFromOutside(folder, glim);
    MeasureHeaderProbes(folder);
    ReleaseAllWork();
    Gdiplus::GdiplusShutdown(token);
    PrintTable();
    return 0;
}
