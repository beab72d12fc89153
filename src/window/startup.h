#pragma once
#include <string>

#include "platform/platform.h"

// The exit code of a start that could not finish: GDI+ or the window could not be had.
constexpr int kCannotStart = 2;

// Shows the first file named on the command line (or chosen in the Open dialog) and starts
// one more copy of the program for every further file. Returns the exit code.
int StartFromCommandLine();
// GDI+ runs around loading, listing and the window's whole life. Returns the exit code.
int RunWithGdiplus(const wchar_t* path);
// The system Open dialog, owned by owner (or none) and starting in folder (or the system's
// choice); false when cancelled.
bool AskForFile(wchar_t* path, const wchar_t* folder, HWND owner);
// Starts one more copy of the program on file, as for a further file on the command line.
void StartCopyForFile(const wchar_t* file);
// One argument quoted so that the command-line splitter gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);
