#pragma once
#include <memory>
#include <vector>

#include "core/app_state.h"

// How an entry of the folder looked when it was read ahead: there or not, its size and last
// write time.
struct FileStamp {
    int index = 0;
    bool exists = false;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
};

// What Navigate(step) from entry `from` would show, made on the worker thread in a state record
// of its own: the picture decoded, its back buffer composed for the view as it was when the work
// began, its two icons made.
struct Prepared {
    int from = 0;
    int step = 0;
    int index = -1;             // the entry prepared; -1 when none could be
    long long shownPixels = 0;  // of the picture on show when the work began
    AppState state;
    std::vector<FileStamp> looked;  // every entry tried, in order
};

// Prepares, on the worker thread, what a press in direction step would show after the entry on
// show, in place of anything prepared before. Nothing is prepared when the picture on show and
// the next would pass the budget of decoded pixels. The worker also releases retired, the
// picture that the one on show replaced.
void StartReadAhead(int step, Picture retired);
// What was prepared for a press in direction step from the entry on show, once every entry it
// looked at is seen unchanged; waits for the rest of that work if it is still going on. Anything
// else that was prepared or being prepared is dropped. Null when there is nothing to take.
std::unique_ptr<Prepared> TakeReadAhead(int step);
// Drops everything prepared or being prepared, and returns once the worker has released all it
// held: the room a press may need.
void ReleaseReadAhead();
// Returns once the worker has nothing to do.
void WaitForReadAhead();
// Ends the worker after its current step, dropping what it made. GDI+ must still be running.
void StopReadAhead();
// Releases a prepared picture, back buffer and icons.
void DiscardPrepared(Prepared& prepared);
