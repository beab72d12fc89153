#include <cstdio>
#include <cstdlib>

#include "support.h"

// A crash fails its test with a code of its own instead of waiting in a crash dialog.
static LONG WINAPI ReportCrash(EXCEPTION_POINTERS* exception) {
    std::fprintf(stderr, "crashed: exception %08lX%s\n", exception->ExceptionRecord->ExceptionCode,
                 crashNote);
    ExitProcess(3);
}

static bool testsEnded = false;

// The program ending itself in the middle of a test (its exit on nothing left to show) fails it
// too, whatever code it ends with.
static void ReportEarlyEnd() {
    if (testsEnded) return;
    std::fprintf(stderr, "ended before the tests did%s\n", crashNote);
    _exit(3);
}

// GDI+ runs for the whole test program, as it does for the whole viewer.
int main(int argc, char** argv) {
    SetUnhandledExceptionFilter(ReportCrash);
    std::atexit(ReportEarlyEnd);
    testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok) return 2;
    const int result = RUN_ALL_TESTS();
    testsEnded = true;
    ResetApp();
    Gdiplus::GdiplusShutdown(token);
    return result;
}
