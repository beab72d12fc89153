#pragma once

// Lists the folder of path (just loaded) once; the list is never re-read.
void BuildFolderList(const wchar_t* path);
// Shows the next loadable entry in direction step (+1 or -1, or 0 for the entry on show anew),
// wrapping at both ends and skipping what does not decode: the one read ahead when there is one,
// and then reads ahead in the direction of travel. Ends the process with code 1 when nothing
// loads.
void Navigate(int step);
void SetWindowTitle(const wchar_t* text);

// Splits path at its last backslash or slash; a bare name gets the current folder ".".
// Each part must fit MAX_PATH characters with its terminator.
bool SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* name);
// folder + "\" + name into out (MAX_PATH characters); false when it does not fit.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* out);
