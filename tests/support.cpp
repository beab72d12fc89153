#include "support.h"

#include <cstdio>
#include <fstream>

#include "core/navigation.h"
#include "imaging/image_loading.h"
#include "window/main_window.h"

fs::path Fixture(const wchar_t* name) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return fs::path(program).parent_path() / L"fixtures" / name;
}

std::string ReadBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TempFolder::TempFolder() {
    static int count = 0;
    path = fs::temp_directory_path() / (L"glim-test-" + std::to_wstring(GetCurrentProcessId()) +
                                        L"-" + std::to_wstring(++count));
    // Process numbers come round again, and a folder left by an earlier run may still be there.
    fs::remove_all(path);
    fs::create_directories(path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
}

fs::path TempFolder::Add(const std::wstring& name, const std::string& bytes) const {
    std::ofstream(path / name, std::ios::binary) << bytes;
    return path / name;
}

fs::path TempFolder::Copy(const wchar_t* fixture, const std::wstring& name) const {
    fs::copy_file(Fixture(fixture), path / name, fs::copy_options::overwrite_existing);
    return path / name;
}

void ResetApp() {
    if (app.window) DestroyWindow(app.window);
    // The class keeps the cursor and brush it was given; the next window starts afresh.
    UnregisterClassW(L"Glim", GetModuleHandleW(nullptr));
    if (app.fullscreen) ShowCursor(TRUE);
    app = AppState{};
}

void OpenViewerOn(const fs::path& file) {
    ResetApp();
    ASSERT_TRUE(LoadImageFile(file.c_str()));
    BuildFolderList(file.c_str());
    OpenMainWindow();
    WaitFor([] { return true; });
}

void SendToWindow(UINT message, WPARAM wParam, LPARAM lParam, std::vector<BYTE> held) {
    BYTE keys[256] = {};
    for (const BYTE key : held) keys[key] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(app.window, message, wParam, lParam);
    WaitFor([] { return true; });
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    for (const DWORD start = GetTickCount();;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        if (condition()) return true;
        if (GetTickCount() - start > DWORD(timeoutMs)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

std::wstring Title(HWND window) {
    wchar_t title[MAX_PATH] = {};
    GetWindowTextW(window, title, MAX_PATH);
    return title;
}

std::vector<DWORD> BitmapPixels(Gdiplus::Bitmap& bitmap) {
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

// A crash fails its test with a code of its own instead of waiting in a crash dialog.
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "crashed: exception %08lX\n", exception->ExceptionRecord->ExceptionCode);
    ExitProcess(3);
}

// GDI+ runs for the whole test program, as it does for the whole viewer.
int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(ReportCrash);
    testing::InitGoogleTest(&argc, argv);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 2;
    const int result = RUN_ALL_TESTS();
    ResetApp();
    Gdiplus::GdiplusShutdown(token);
    return result;
}
