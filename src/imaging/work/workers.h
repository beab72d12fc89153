#pragma once
// imaging/work: the workers, which decode and compose off the window's thread, by ticket.

// How a press works. The window's thread owns the picture on show; it never decodes and never
// waits for a worker. A press hands the workers a list of asks in order of need, each under a
// ticket: the entry asked for (its preview first, then its picture), then the ones to read ahead.
// Workers take them on the program's one pool, each into a record of its own (the picture, composed
// for the view it was asked for, with its icons) that carries its ask, and post kWorkFinished. The
// window's thread takes only what answers an ask it still has. A decode is never cut short (a
// decoder may not survive a read that fails under it): work no longer asked for is dropped before
// it starts or between its own steps, and what it made is released by a worker. The pictures held
// or in flight stay within a budget, the entry asked for first: a read-ahead whose header declares
// more than the room left waits, undecoded, and one whose size no header tells is left to the
// press.
#include <memory>
#include <vector>

#include "imaging/pixels/composition.h"
#include "imaging/work/ask.h"

// Posted to the window whenever a worker has finished something.
constexpr UINT kWorkFinished = WM_APP + 1;

// What a worker made of an ask: a picture (or a preview) as it would be on show, composed for the
// view of the ask, with its icons; or why there is none.
struct Prepared {
    Ask ask;
    LoadResult result = LoadResult::kNotAPicture;
    FileStamp stamp;  // the file as it was when the work began
    Shown shown;
};

// Where finished work is announced, once the window exists. Until then start-up waits for what it
// asked itself, and the picture of a photo whose preview the window will open on is not begun.
void StartWorkers(HWND window);
// Replaces what the workers are asked for, in order of need, for this view; heldPixels are those
// of the picture on show. kept, if any, is a picture the window let go of, finished for its ask.
// Work for anything not asked is dropped. False when some work could not be handed to the pool:
// it is tried again when a worker finishes or at the next call.
bool AskWorkers(std::vector<Ask> asks, const View& view, long long heldPixels,
                std::unique_ptr<Prepared> kept = nullptr);
// The finished work for this ticket (its preview, or its picture), if there is.
std::unique_ptr<Prepared> TakeFinished(Ticket ticket, bool preview);
// At start-up: waits for this ticket's picture to be finished, whatever became of it, or for its
// preview to be made; returns that.
std::unique_ptr<Prepared> WaitForFinished(Ticket ticket);
// Hands a picture, or a record with one, to the workers to be released.
void ReleaseElsewhere(Picture picture);
void ReleaseElsewhere(std::unique_ptr<Prepared> prepared);
// At the program's end: drops everything asked and returns true once all is released, or false at
// once when a decode is under way, which cannot be cut short; the process must then end without
// shutting GDI+ down.
bool EndAllWork();
// Drops everything asked and waits until it is all released, decodes under way included.
void ReleaseAllWork();
// Returns once the workers have nothing left to do.
void WaitForWorkers();
// The file's stamp now.
FileStamp StampFile(const wchar_t* path);
bool SameStamp(const FileStamp& a, const FileStamp& b);
