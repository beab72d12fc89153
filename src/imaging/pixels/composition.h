#pragma once
// imaging/pixels: the pixels the program owns, scaled and composed for the view.
#include "imaging/pixels/picture.h"
#include "imaging/pixels/view.h"
#include "platform/platform.h"

// What the back buffer was last composed from: the pixels (their generation), their place, the
// filter and the background; that is, the view it was composed for.
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

// What is on show, or made by a worker to be: the picture (or a preview of it), the file it came
// from, the back buffer composed from it and the icons made of it (none once the window has
// them).
struct Shown {
    Picture picture;
    bool preview = false;  // the preview of an entry, not its picture
    bool rough = false;    // that preview is a thumbnail, which a sharper one may follow
    int frame = 0;
    wchar_t path[MAX_PATH] = {};
    BackBuffer backBuffer;
    Composition composed;
    HICON smallIcon = nullptr;
    HICON bigIcon = nullptr;
};

// Makes shown's client-sized back buffer show the view: background, then the current frame in
// its placement. When only the picture's place changed, the pixels on show move with it and only
// the strips uncovered are rendered. Reads and writes nothing but its arguments, so it composes on
// any thread.
void ComposeBackBuffer(Shown& shown, const View& view);
void ReleaseBackBuffer(Shown& shown);

// The picture squeezed into a size x size icon, with its transparency; a transparent one for no
// picture. Any thread.
HICON MakeImageIcon(const Picture& picture, int size);
