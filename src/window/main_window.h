#pragma once
#include "platform/platform.h"

// Client size of a new window for an image: halved until it leaves 128 pixels of the
// screen free, then at least 128 pixels each way. Images still below 128 pixels both ways
// show at actual size instead of fitted.
struct InitialSize {
    int clientWidth;
    int clientHeight;
    bool actualSize;
};
InitialSize ComputeInitialSize(int imageWidth, int imageHeight, int screenWidth, int screenHeight);

// Registers the class, opens the window sized to the image and runs the message loop; false
// when the window cannot be created.
bool CreateMainWindow();
// The window without its loop, so that tests can drive it message by message.
bool OpenMainWindow();
void RunMessageLoop();
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
