#pragma once
// How a press works. The window's thread owns the picture on show; it never decodes. A press
// hands the workers a list of asks: the entry asked for (its preview first, then the picture),
// then the entries that come next in the direction of travel, then the one behind. Workers take
// the asks in that order on the program's one pool, each into a record of its own (the picture,
// composed for the view it was asked for, with its icons), and post kWorkFinished to the window.
// The window's thread then takes what it wants: the picture leaves the workers and becomes the
// one on show, and the one it replaces goes back to them to be released. Work no longer asked for
// is dropped before it starts, abandoned at its next read if it runs, and released by a worker if
// it is finished. While the entry asked for shows its preview, nothing else is decoded beside its
// picture.
#include <memory>
#include <string>
#include <vector>

#include "core/app_state.h"

// Posted to the window whenever a worker has finished something.
constexpr UINT kWorkFinished = WM_APP + 1;

// How an entry of the folder looked when it was read: there or not, its size and last write time.
struct FileStamp {
    bool exists = false;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
};

// One entry of the folder that the window's thread wants: its full path, and the most pixels its
// picture may have (more comes back as kOverLimit without the pixels).
struct Ask {
    int index = 0;
    std::wstring path;
    bool preview = false;  // its preview is wanted too, ahead of everything else
    long long pixelLimit = 0;
};

// What a worker made of an ask: a picture (or a preview) in a record of its own, composed for the
// view of the ask, with its icons; or why there is none.
struct Prepared {
    int index = 0;
    bool preview = false;
    bool wanted = false;  // asked for as the entry wanted, not read ahead
    LoadResult result = LoadResult::kNotAPicture;
    FileStamp stamp;  // the file as it was when the work began
    AppState state;
};

// Where finished work is announced, once the window exists. Until then start-up waits for what it
// asked itself, and the picture of a photo whose preview the window will open on is not begun.
void StartWorkers(HWND window);
// Replaces what the workers are asked for, in order of need, for this view and this listing of
// the folder; work for anything else is dropped.
void AskWorkers(std::vector<Ask> asks, const View& view, unsigned listing);
// The finished work for this entry of this listing (its preview, or its picture), if there is.
std::unique_ptr<Prepared> TakeFinished(int index, bool preview, unsigned listing);
// Waits for this entry's picture to be finished, whatever became of it, or for its preview to be
// made; returns that.
std::unique_ptr<Prepared> WaitForFinished(int index, unsigned listing);
// Hands a picture to the workers to be released.
void ReleaseElsewhere(Picture picture);
// Drops everything asked, running or finished, and returns once it is all released: the room a
// press may need, and the end of the workers' use of GDI+.
void ReleaseAllWork();
// Returns once the workers have nothing left to do.
void WaitForWorkers();
// True while a worker is decoding.
bool WorkersBusy();
// Releases a prepared record's icons, and its back buffer or keeps it for the workers' next
// composition.
void DiscardPrepared(Prepared& prepared);
// The file's stamp now.
FileStamp StampFile(const wchar_t* path);
bool SameStamp(const FileStamp& a, const FileStamp& b);
