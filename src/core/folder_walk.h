#pragma once
#include <climits>
#include <functional>

struct AppState;

// How a walk through the folder ended: an entry loaded; every entry failed in a row; or it
// stopped at an entry that could not be read for now or passed the pixel limit, or before one
// that mayTry refused.
enum class WalkEnd { kLoaded, kNothingLoads, kHeldBack };
// Walks state's folder list from state.currentIndex in direction step, wrapping at both ends,
// loading each entry into state until one is a picture; those that are not are counted in
// state.loadFailures. The press and the read-ahead both walk through it, so alike.
WalkEnd WalkToLoadable(AppState& state, int step, long long pixelLimit = LLONG_MAX,
                       const std::function<bool(int index)>& mayTry = nullptr);

// path made full against the current folder, into out (MAX_PATH characters); false when it does
// not fit. Every path is made full once, as it comes in, so nothing later depends on the current
// folder, which the Open dialog may move.
bool MakeFullPath(const wchar_t* path, wchar_t* out);
// Splits path at its last backslash or slash; a bare name gets the current folder ".".
// Each part must fit MAX_PATH characters with its terminator.
bool SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* name);
// folder + "\" + name into out (MAX_PATH characters); false when it does not fit.
bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* out);
