#pragma once
// imaging/work: the workers, which decode and compose off the window's thread, by ticket.

// What the window's thread asks the workers for, and how it tells their answers apart.
#include <climits>
#include <string>

#include "platform/platform.h"

// Numbers every ask, never the same twice in a run: an answer is taken only under its ask's number.
using Ticket = unsigned long long;

// How a file looked when it was read: there or not, its size and last write time.
struct FileStamp {
    bool exists = false;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
};

// One entry of a listing of the folder (or a file opened here), asked for under a ticket.
struct Ask {
    Ticket ticket = 0;
    unsigned listing = 0;
    int index = 0;
    std::wstring path;
    // The entry a press asked for: its picture begins at once, before anything read ahead, and is
    // held to pixelLimit alone.
    bool wanted = false;
    bool preview = false;       // its preview is wanted too, ahead of everything else
    bool pictureLater = false;  // a key is held: the picture waits until asked for without this
    bool repeating = false;     // a key repeats: the next entry it comes to is decoded beside it
    bool alone = false;         // it needs the room of all else: it begins once all is released
    long long pixelLimit = LLONG_MAX;
};

// The same entry of the same listing, naming the same file.
inline bool SameEntry(const Ask& a, const Ask& b) {
    return a.listing == b.listing && a.index == b.index && a.path == b.path;
}
