#pragma once
#include <memory>
#include <string>
#include <vector>

#include "imaging/pixels/composition.h"
#include "imaging/work/ask.h"
#include "imaging/work/workers.h"
#include "platform/platform.h"

// What the window brings up to date once the input at hand is handled: the state record says
// what changed, the window shows it, once per input.
struct Changes {
    bool picture = false;     // another picture or preview is on show: composed and presented
    bool view = false;        // the view changed: a picture shows it, a preview does not
    bool icons = false;       // the window's icons are made of the picture on show
    bool title = false;       // the title names currentName
    bool frameTimer = false;  // the frame timer follows the picture's frames and `animate`
    bool cursor = false;      // the cursor tells fit from zoom
    bool background = false;  // the window's background brush is the view's background
};

// Everything the program knows, in one record. Defaults are the start state of every run.
struct AppState {
    View view;
    bool animate = true;

    // Its picture is none before the first picture shows, after the file on show is deleted, and
    // while a picture too large to decode beside it is being decoded.
    Shown onShow;
    bool pictureShown = false;  // a picture was shown since the program started
    Changes changed;

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
    // Asks not yet handed to the workers, with a picture the window let go of for them to keep.
    bool asksPending = false;
    std::unique_ptr<Prepared> kept;
    bool noPreview = false;     // the entry wanted has no preview
    bool keyRepeating = false;  // a key repeats: pictures wait for it to be let go

    HWND window = nullptr;
    HDC windowDc = nullptr;
    HICON smallIcon = nullptr;  // the icons the window has
    HICON bigIcon = nullptr;

    bool fullscreen = false;
    bool modeChangeInProgress = false;
    bool topmost = false;
    bool deleting = false;  // the shell is asking whether to delete the file on show
    UINT_PTR timerId = 0;
    int timerFrame = 0;  // the frame the frame timer is armed for
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
