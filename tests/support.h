#pragma once
// What the tests share: pictures, folders, the viewer's window in this process, waiting.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/app_state.h"
#include "core/navigation.h"
#include "imaging/decode/image_loading.h"
#include "imaging/work/workers.h"
#include "window/main_window.h"
#include "window/presenting.h"

namespace fs = std::filesystem;

constexpr DWORD kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kBlack = 0;

// The pictures that fixtures.py makes beside the test program.
inline fs::path Fixture(const wchar_t* name) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return fs::path(program).parent_path() / L"fixtures" / name;
}

// A fresh folder under the temporary folder, removed with everything in it at the end.
struct TempFolder {
    TempFolder() {
        static int count = 0;
        path = fs::temp_directory_path() / (L"glim-test-" + std::to_wstring(GetCurrentProcessId()) +
                                            L"-" + std::to_wstring(++count));
        // Process numbers come round again, and an earlier run's folder may still be there.
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path Add(const std::wstring& name, const std::string& bytes) const {
        std::ofstream(path / name, std::ios::binary) << bytes;
        return path / name;
    }
    fs::path Copy(const wchar_t* fixture, const std::wstring& name) const {
        fs::copy_file(Fixture(fixture), path / name, fs::copy_options::overwrite_existing);
        return path / name;
    }
    fs::path path;
};

// This program's import of function, made writable so that a test may point it elsewhere; null if
// it cannot be found.
template <class Function>
Function** ImportSlot(Function* function) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IAT];
    auto* const slots = reinterpret_cast<Function**>(base + imports.VirtualAddress);
    auto* const end = slots + imports.Size / sizeof *slots;
    auto* const slot = std::find(slots, end, function);
    DWORD protection;
    if (slot == end || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
        return nullptr;
    }
    return slot;
}

// The import of ReadFile; the function it named is kept in realReadFile.
inline decltype(&ReadFile) realReadFile;
inline decltype(&ReadFile)* ReadFileImport() {
    decltype(&ReadFile)* const slot = ImportSlot(ReadFile);
    if (slot) realReadFile = *slot;
    return slot;
}

// What a test is doing, told when it crashes.
inline char crashNote[200];

// Pumps this thread's messages until condition holds or timeoutMs passes.
inline bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000) {
    for (const DWORD start = GetTickCount();;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (condition()) return true;
        if (GetTickCount() - start > DWORD(timeoutMs)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

// Polls until read() gives want; a failure tells the last value read.
template <class Read, class T>
testing::AssertionResult Becomes(Read read, const T& want) {
    auto last = read();
    if (WaitFor([&] { return (last = read()) == want; })) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "still " << testing::PrintToString(last) << ", want " << testing::PrintToString(want);
}

// Closes the window if one is open, ends the worker, and puts the state back to its start
// values.
inline void ResetApp() {
    ReleaseAllWork();
    if (app.window) DestroyWindow(app.window);
    // The class keeps the cursor and brush it was given; the next window starts afresh.
    UnregisterClassW(L"Glim", GetModuleHandleW(nullptr));
    if (app.fullscreen) ShowCursor(TRUE);
    app = AppState{};
}

// Loads file and opens the real main window on it, as start-up does, without the loop.
inline void OpenViewerOn(const fs::path& file) {
    ResetApp();
    ASSERT_EQ(LoadImageFile(app.onShow.picture, file.c_str()), LoadResult::kLoaded);
    BuildFolderList(file.c_str());
    OpenMainWindow();
    WaitFor([] { return true; });
}

// A message through the real window procedure, with keys such as VK_SHIFT held meanwhile.
// Then waits until the picture that any press asked for is on screen and the workers are done.
inline void SendToWindow(UINT message, WPARAM wParam, LPARAM lParam = 0,
                         std::vector<BYTE> held = {}) {
    BYTE keys[256] = {};
    for (const BYTE key : held) keys[key] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(app.window, message, wParam, lParam);
    WaitFor([] { return !app.window || (!PressPending() && !app.onShow.preview); });
    WaitForWorkers();
    WaitFor([] { return true; });
}

// Wine counts no GDI objects (GetGuiResources answers 0), so they are counted by the room left:
// brushes are made until the system refuses, then freed. Icons and back buffers are GDI objects.
inline int GdiRoom() {
    std::vector<HBRUSH> made;
    for (HBRUSH brush; made.size() < 200000 && (brush = CreateSolidBrush(0));) {
        made.push_back(brush);
    }
    for (const HBRUSH brush : made) DeleteObject(brush);
    return int(made.size());
}

// A file dropped on the window as Explorer drops it, then waits as SendToWindow does.
inline void Drop(const fs::path& path) {
    const DROPFILES files = {sizeof files, {}, FALSE, TRUE};
    const std::wstring name = path.wstring() + L'\0';
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, sizeof files + (name.size() + 1) * 2);
    auto* bytes = static_cast<BYTE*>(GlobalLock(memory));
    std::memcpy(bytes, &files, sizeof files);
    std::memcpy(bytes + sizeof files, name.c_str(), (name.size() + 1) * 2);
    GlobalUnlock(memory);
    SendToWindow(WM_DROPFILES, WPARAM(memory));
}

// 0xAARRGGBB, top row first.
inline std::vector<DWORD> BitmapPixels(Gdiplus::Bitmap& bitmap) {
    const UINT width = bitmap.GetWidth(), height = bitmap.GetHeight();
    std::vector<DWORD> pixels(size_t(width) * height);
    Gdiplus::Rect all(0, 0, int(width), int(height));
    Gdiplus::BitmapData data = {width,         height, int(width) * 4, PixelFormat32bppARGB,
                                pixels.data(), 0};
    bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                    PixelFormat32bppARGB, &data);
    bitmap.UnlockBits(&data);
    return pixels;
}

// An icon's colour pixels, 0xAARRGGBB, top row first; or its mask's, white where it lets the
// screen show through.
inline std::vector<DWORD> IconPixels(HICON icon, bool mask = false) {
    ICONINFO info = {};
    GetIconInfo(icon, &info);
    Gdiplus::Bitmap bitmap(mask ? info.hbmMask : info.hbmColor, nullptr);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return BitmapPixels(bitmap);
}

// A metafile of a red cross of bars 200 x 50 and 100 x 100 screen pixels: its corners are empty.
inline fs::path DrawCrossMetafile(const fs::path& file) {
    const HDC dc = CreateEnhMetaFileW(nullptr, file.c_str(), nullptr, nullptr);
    const HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    for (const RECT& bar : {RECT{0, 25, 200, 75}, RECT{50, 0, 150, 100}}) FillRect(dc, &bar, red);
    DeleteObject(red);
    DeleteEnhMetaFile(CloseEnhMetaFile(dc));
    return file;
}

// The back buffer's pixels as the window shows them: 0xFFRRGGBB, top row first.
inline std::vector<DWORD> BackBufferPixels(const AppState& state) {
    const BackBuffer& buffer = state.onShow.backBuffer;
    return std::vector<DWORD>(buffer.bits, buffer.bits + size_t(buffer.width) * buffer.height);
}

// The pixels of the frame on show, premultiplied 0xAARRGGBB, top row first.
inline std::vector<DWORD> FramePixels(const Picture& picture) {
    if (!HasPixels(picture)) return {};
    const Pixels& frame = picture.levels[0];
    return std::vector<DWORD>(frame.bits.get(),
                              frame.bits.get() + size_t(frame.width) * frame.height);
}

// What the screen shows at a client position, whatever window covers it: 0xRRGGBB.
inline DWORD ScreenPixel(HWND window, int x, int y) {
    POINT point = {x, y};
    ClientToScreen(window, &point);
    const HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return GetRValue(colour) << 16 | GetGValue(colour) << 8 | GetBValue(colour);
}
