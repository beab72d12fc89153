#pragma once
#include <filesystem>
#include <functional>
#include <string>

#include "core/app_state.h"
#include "temp_folder.h"

// The pictures that tools/make_pictures.py makes beside the test program.
std::wstring FixturePath(const wchar_t* name);

// Closes the viewer window if one is open and puts the state back to its start values.
void ResetApp();
// Loads path and opens the real main window on it, as start-up does (without the loop).
void OpenViewerOn(const std::wstring& path);

// Dispatches the thread's waiting messages.
void PumpMessages();
// Pumps messages until condition holds or timeoutMs passes; returns the condition.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 3000);

Gdiplus::ARGB BackBufferPixel(int x, int y);
// What the window shows at a client position, read back from the screen.
COLORREF ScreenPixel(int x, int y);

constexpr Gdiplus::ARGB kOpaqueRed = 0xFFFF0000;
constexpr Gdiplus::ARGB kOpaqueGreen = 0xFF00FF00;
constexpr Gdiplus::ARGB kOpaqueBlue = 0xFF0000FF;
