#pragma once
#include <memory>
#include <string>
#include <vector>

#include "imaging/picture.h"
#include "platform/platform.h"

// Gray levels of the cycled backgrounds: black, mid gray, white.
constexpr BYTE kBackgroundGrays[] = {0, 128, 255};

// What the back buffer was last composed from: the picture, its frame and place, the filter
// and the background.
struct Composition {
    const void* picture = nullptr;
    unsigned imageLoad = 0;
    int frame = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool smooth = false;
    Gdiplus::ARGB background = 0;
};

// A client-sized DIB section that composition writes into and presenting copies: opaque
// 0xFFRRGGBB pixels, top row first.
struct BackBuffer {
    HBITMAP bitmap = nullptr;
    uint32_t* bits = nullptr;
    int width = 0;
    int height = 0;
};

// Everything the program knows, in one record. Defaults are the start state of every run.
struct AppState {
    bool smoothScaling = true;
    int backgroundIndex = -1;  // -1: system button face colour; 0..2: kBackgroundGrays
    float zoom = 1.0f;
    bool fitToWindow = true;
    bool animate = true;

    Picture picture;          // none, before the first load and after the file on show is deleted
    unsigned imageLoads = 0;  // loads tried and turns: new pixels are told from those before
    int currentFrame = 0;
    wchar_t currentPath[MAX_PATH] = {};

    wchar_t folderPath[MAX_PATH] = {};
    wchar_t currentName[MAX_PATH] = {};
    std::vector<std::wstring> fileNames;
    int currentIndex = 0;
    int loadFailures = 0;
    int travel = +1;  // the direction of the last step through the folder

    HWND window = nullptr;
    HDC windowDc = nullptr;
    int clientWidth = 0;
    int clientHeight = 0;
    BackBuffer backBuffer;
    Composition composed;
    HICON smallIcon = nullptr;
    HICON bigIcon = nullptr;
    int panX = 0;  // client pixels; positive moves the image left
    int panY = 0;  // client pixels; positive moves the image up

    bool fullscreen = false;
    bool modeChangeInProgress = false;
    bool topmost = false;
    bool deleting = false;  // the shell is asking whether to delete the file on show
    UINT_PTR timerId = 0;
    int savedLeft = 0;
    int savedTop = 0;
    int savedWidth = 0;
    int savedHeight = 0;
    LONG savedStyle = 0;
    int savedBackgroundIndex = 0;

    int lastMouseX = 0;
    int lastMouseY = 0;

    // Touchpads and smooth wheels send parts of a notch; those not yet zoomed by wait here.
    int wheelLeftover = 0;
    DWORD wheelTime = 0;  // message time of the last wheel message, in milliseconds
};

extern AppState app;
