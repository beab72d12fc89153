#include "test_support.h"

#include <gtest/gtest.h>

#include "window/main_window.h"
#include "core/navigation.h"
#include "imaging/image_loading.h"

namespace fs = std::filesystem;

std::wstring FixturePath(const wchar_t* name) {
    wchar_t program[MAX_PATH];
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    return (fs::path(program).parent_path() / L"fixtures" / name).wstring();
}

void ResetApp() {
    if (app.window) {
        DestroyWindow(app.window);
        PumpMessages();
    }
    // The class keeps the cursor and brush it was given; the next window starts afresh.
    UnregisterClassW(L"Glim", GetModuleHandleW(nullptr));
    if (app.smallIcon) DestroyIcon(app.smallIcon);
    if (app.bigIcon) DestroyIcon(app.bigIcon);
    if (app.fullscreen) ShowCursor(TRUE);
    app.backBuffer.reset();
    if (app.backBufferPixels) DeleteObject(app.backBufferPixels);
    app = AppState{};
}

void OpenViewerOn(const std::wstring& path) {
    ResetApp();
    ASSERT_TRUE(LoadImageFile(path.c_str()));
    BuildFolderList(path.c_str());
    OpenMainWindow();
    PumpMessages();
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        PumpMessages();
        if (condition()) return true;
        if (GetTickCount() - start > static_cast<DWORD>(timeoutMs)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

Gdiplus::ARGB BackBufferPixel(int x, int y) {
    Gdiplus::Color color;
    if (!app.backBuffer || app.backBuffer->GetPixel(x, y, &color) != Gdiplus::Ok) return 0;
    return color.GetValue();
}

COLORREF ScreenPixel(int x, int y) {
    POINT point = {x, y};
    ClientToScreen(app.window, &point);
    const HDC screen = GetDC(nullptr);
    const COLORREF color = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return color;
}
