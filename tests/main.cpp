#include <cstdio>

#include "support.h"

// A crash fails its test with a code of its own instead of waiting in a crash dialog.
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "crashed: exception %08lX%s\n", exception->ExceptionRecord->ExceptionCode,
                 crashNote);
    ExitProcess(3);
}

// GDI+ runs for the whole test program, as it does for the whole viewer.
int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(ReportCrash);
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 2;
    const int result = RUN_ALL_TESTS();
    ResetApp();
    Gdiplus::GdiplusShutdown(token);
    return result;
}
