#pragma once

// Lists the folder of path (just loaded) once; the list is never re-read.
void BuildFolderList(const wchar_t* path);
// Shows the next loadable entry in direction step (+1 or -1), wrapping at both ends and skipping
// what does not decode: the one read ahead when there is one, and then reads ahead in the
// direction of travel. Ends the process with code 1 when nothing loads.
void Navigate(int step);
// Shows the first entry that loads from the end given (-1 the first entry, +1 the last) inward,
// as a press would, and reads ahead towards the other end.
void NavigateToEnd(int end);

// Shows the picture at path in place of the one on show and lists its folder, as if the viewer
// had been started on it; the view and its modes stay. False, changing nothing, for a file that
// is not a picture, or a folder, or a path too long to be made full.
bool OpenHere(const wchar_t* path);
// Lists the folder again and stays on the picture on show; if its file is gone, shows the next
// entry that loads, as a press would.
void ListFolderAgain();
void SetWindowTitle(const wchar_t* text);
