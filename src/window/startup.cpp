#include "window/startup.h"

#include "core/app_state.h"
#include "core/navigation.h"
#include "imaging/decode/codecs.h"
#include "imaging/work/workers.h"
#include "platform/apartment.h"
#include "window/main_window.h"
#include "window/shell_open.h"

// The window's thread joins COM only once something there needs it: the first picture shows
// without COM's libraries.
int StartFromCommandLine() {
    const std::vector<std::wstring> arguments = SplitCommandLine(GetCommandLineW());
    int code = 0;
    if (arguments.empty()) {
        wchar_t path[MAX_PATH] = {};
        if (AskForFile(path, nullptr, nullptr)) code = RunWithGdiplus(path);
    } else {
        for (size_t i = 1; i < arguments.size(); ++i) StartCopyForFile(arguments[i].c_str());
        code = RunWithGdiplus(arguments[0].c_str());
    }
    ReleaseCodecFactory();
    LeaveApartment();
    return code;
}

int RunWithGdiplus(const wchar_t* path) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return kCannotStart;
    int code = 0;
    if (ShowFirst(path) && !CreateMainWindow()) code = kCannotStart;
    // The process ends at once rather than wait for a decode under way: GDI+ is then never shut
    // down, which a decoding thread would outlive. Else GDI+ objects go before GDI+ itself, on
    // every thread; codecs before COM.
    if (!EndAllWork()) TerminateProcess(GetCurrentProcess(), code);
    app.onShow.picture = Picture{};
    app.kept.reset();
    Gdiplus::GdiplusShutdown(token);
    return code;
}
