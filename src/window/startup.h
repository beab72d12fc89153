#pragma once
#include <string>

// Shows the first file named on the command line (or chosen in the Open dialog) and starts
// one more copy of the program for every further file.
void StartFromCommandLine();
// GDI+ runs around loading, listing and the window's whole life.
void RunWithGdiplus(const wchar_t* path);
// One argument quoted so that the command-line splitter gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);
