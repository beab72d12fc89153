#include "window/startup.h"

#include "core/app_state.h"
#include "core/navigation.h"
#include "imaging/codecs.h"
#include "imaging/workers.h"
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
    if (ShowFirst(path) && !CreateMainWindow()) code = kCannotStart;
    // The process ends at once rather than wait for a decode under way: GDI+ is then never shut
    // down, which a decoding thread would outlive.
    if (WorkersBusy()) TerminateProcess(GetCurrentProcess(), code);
    // GDI+ objects must go before GDI+ itself, on every thread; codecs before COM.
    StopWorkers();
    app.picture = Picture{};
    Gdiplus::GdiplusShutdown(token);
    return code;
}
