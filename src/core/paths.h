#pragma once
// path made full against the current folder, into out (MAX_PATH characters); false when it does
// not fit. Every path is made full once, as it comes in, so nothing later depends on the current
// folder, which the Open dialog may move.
bool MakeFullPath(const wchar_t* path, wchar_t* out);
// Splits path at its last backslash or slash; a bare name gets the current folder ".".
// Each part must fit MAX_PATH characters with its terminator.
bool SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* name);
// folder + "\" + name into out (MAX_PATH characters); false when it does not fit.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* out);
