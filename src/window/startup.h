#pragma once
#include "platform/platform.h"

// The exit code of a start that could not finish: GDI+ or the window could not be had.
constexpr int kCannotStart = 2;

// Shows the first file named on the command line (or chosen in the Open dialog) and starts
// one more copy of the program for every further file. Returns the exit code.
int StartFromCommandLine();
// GDI+ runs around loading, listing and the window's whole life. Returns the exit code.
int RunWithGdiplus(const wchar_t* path);
