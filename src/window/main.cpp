#include "platform/platform.h"
#include "window/startup.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return StartFromCommandLine();
}
