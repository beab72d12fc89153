#pragma once

// Lists the folder of path, the picture on show, which becomes the entry wanted.
void BuildFolderList(const wchar_t* path);
// Asks for the next entry in direction step (+1 or -1) from the one asked for last, wrapping at
// both ends: it shows at once if it was read ahead, else its preview shows as soon as it is made,
// and its picture as soon as it is decoded; what does not decode is walked past in the same
// direction. Ends the process with code 1 when nothing loads.
void Navigate(int step);
// Asks the workers for what comes next in the direction of travel, and for the entry asked for
// while its picture is not on show.
void AskWorkersAround();
// A key no longer repeats: the picture of the entry it came to begins.
void LetGoOfKey();
// Hands the workers what was asked of them since the last call: called once what is ready shows,
// so that new work does not compete with it for the processors. False when the pool could not
// take it all: it is tried again when a worker finishes or at the next call.
bool HandOutWork();
// Hands the workers again what the pool could not take.
void RetryWork();
// True while the entry asked for last is not on screen, neither as a picture nor as a preview.
bool PressPending();
// Takes what the workers finished: the picture asked for, or its preview.
void ShowWhatWorkersFinished();
// Before the window exists: decodes the first file, and lists its folder once its picture is
// decoded; a preview of it is enough to go on. False when the file is no picture.
bool ShowFirst(const wchar_t* path);
// Shows the first entry that loads from the end given (-1 the first entry, +1 the last) inward,
// as a press would, and reads ahead towards the other end.
void NavigateToEnd(int end);

// Shows the picture at path in place of the one on show and lists its folder, as if the viewer
// had been started on it, once it is decoded; the view and its modes stay. A file that is not a
// picture, a folder, or a path too long to be made full changes nothing.
void OpenHere(const wchar_t* path);
// Lists the folder again and stays on the picture on show; if its file is gone, shows the next
// entry that loads, as a press would.
void ListFolderAgain();
// The file on show was deleted: its picture goes, and the walk goes on from its entry.
void WalkOnFromDeleted();
