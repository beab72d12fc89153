#include "window/startup.h"

#include "core/app_state.h"
#include "core/folder_walk.h"
#include "core/navigation.h"
#include "imaging/codecs.h"
#include "imaging/image_loading.h"
#include "imaging/read_ahead.h"
#include "window/main_window.h"
#include "window/shell_open.h"

// The window's thread is single-threaded for COM, as the shell and the Open dialog want it.
int StartFromCommandLine() {
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!arguments) return kCannotStart;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int code = 0;
    if (count < 2) {
        wchar_t path[MAX_PATH] = {};
        if (AskForFile(path, nullptr, nullptr)) code = RunWithGdiplus(path);
    } else {
        for (int i = 2; i < count; ++i) StartCopyForFile(arguments[i]);
        code = RunWithGdiplus(arguments[1]);
    }
    LocalFree(arguments);
    ReleaseCodecFactory();
    CoUninitialize();
    return code;
}

int RunWithGdiplus(const wchar_t* path) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return kCannotStart;
    int code = 0;
    wchar_t full[MAX_PATH];
    if (MakeFullPath(path, full) && LoadImageFile(app, full) == LoadResult::kLoaded) {
        BuildFolderList(full);
        if (!CreateMainWindow()) code = kCannotStart;
    }
    // GDI+ objects must go before GDI+ itself, on every thread; codecs before COM.
    StopReadAhead();
    app.picture = Picture{};
    Gdiplus::GdiplusShutdown(token);
    return code;
}
