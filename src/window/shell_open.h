#pragma once
#include <string>
#include <vector>

#include "platform/platform.h"

// The system Open dialog, owned by owner (or none) and starting in folder (or the system's
// choice); false when cancelled.
bool AskForFile(wchar_t* path, const wchar_t* folder, HWND owner);
// Starts one more copy of the program on file, as for a further file on the command line.
void StartCopyForFile(const wchar_t* file);
// One argument quoted so that the command-line splitter gives it back unchanged.
std::wstring QuoteArgument(const std::wstring& argument);
// The arguments that follow the program's path on a command line, as the system's splitter
// (CommandLineToArgvW) gives them, without loading the shell to ask it.
std::vector<std::wstring> SplitCommandLine(const wchar_t* line);
