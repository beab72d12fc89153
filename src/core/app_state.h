#pragma once
#include <memory>
#include <string>
#include <vector>

#include "imaging/work/ask.h"
#include "imaging/pixels/picture.h"
#include "platform/platform.h"

// Gray levels of the cycled backgrounds: black, mid gray, white.
constexpr BYTE kBackgroundGrays[] = {0, 128, 255};

// The window's timers: frames, a held key's pause, and work the pool could not take yet.
constexpr UINT_PTR kFrameTimerId = 1;
constexpr UINT_PTR kHeldKeyTimerId = 2;
constexpr UINT_PTR kRetryTimerId = 3;

// What the back buffer was last composed from: the pixels (their generation), their place, the
// filter and the background.
struct Composition {
    unsigned generation = 0;
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

// How the picture is shown: everything that composing the back buffer reads besides the picture.
struct View {
    bool smoothScaling = true;
    int backgroundIndex = -1;  // -1: system button face colour; 0..2: kBackgroundGrays
    float zoom = 1.0f;
    bool fitToWindow = true;
    int panX = 0;  // client pixels; positive moves the image left
    int panY = 0;  // client pixels; positive moves the image up
    int clientWidth = 0;
    int clientHeight = 0;
};

// Everything the program knows, in one record. Defaults are the start state of every run.
struct AppState {
    View view;
    bool animate = true;

    // None before the first picture shows, after the file on show is deleted, and while a picture
    // too large to decode beside it is being decoded.
    Picture picture;
    bool showsPreview = false;  // the picture is the preview of the entry on show
    bool previewRough = false;  // that preview is a thumbnail, which a sharper one may follow
    bool pictureShown = false;  // a picture was shown since the program started
    int currentFrame = 0;
    wchar_t currentPath[MAX_PATH] = {};

    wchar_t folderPath[MAX_PATH] = {};
    wchar_t currentName[MAX_PATH] = {};
    std::vector<std::wstring> fileNames;
    unsigned listing = 0;      // counts the folder's listings, so work for an old one is told apart
    int currentIndex = 0;      // the entry on show
    std::wstring openingPath;  // a file being opened here, not yet decoded
    int loadFailures = 0;
    bool roomMade = false;   // all was let go for the entry wanted; a second failure is final
    bool walkEnded = false;  // nothing decoded all round the folder: the next press tries again
    int travel = +1;         // the direction of the last step through the folder

    // What the workers are asked for, each under a ticket of its own.
    Ticket lastTicket = 0;
    Ask wanted;  // the entry asked for last, on show once it is decoded
    Ask shown;   // the entry whose picture or preview is on show
    FileStamp shownStamp;
    Ask left;  // the entry on show before, whose picture the workers keep (ticket 0: none)
    std::vector<Ask> asks;
    bool noPreview = false;     // the entry wanted has no preview
    bool keyRepeating = false;  // a key repeats: pictures wait for it to be let go

    HWND window = nullptr;
    HDC windowDc = nullptr;
    BackBuffer backBuffer;
    Composition composed;
    HICON smallIcon = nullptr;
    HICON bigIcon = nullptr;

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
