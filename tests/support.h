#pragma once
// What the tests share: pictures, folders, the viewer's window in this process, waiting.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/app_state.h"

namespace fs = std::filesystem;

constexpr DWORD kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kYellow = 0xFFFF00,
                kMagenta = 0xFF00FF, kCyan = 0x00FFFF, kBlack = 0, kGray = 0x808080;

// The pictures that fixtures.py makes beside the test program.
fs::path Fixture(const wchar_t* name);
std::string ReadBytes(const fs::path& file);

// A fresh folder under the temporary folder, removed with everything in it at the end.
struct TempFolder {
    TempFolder();
    ~TempFolder();
    fs::path Add(const std::wstring& name, const std::string& bytes) const;
    fs::path Copy(const wchar_t* fixture, const std::wstring& name) const;
    fs::path path;
};

// Closes the window if one is open and puts the state back to its start values.
void ResetApp();
// Loads file and opens the real main window on it, as start-up does, without the loop.
void OpenViewerOn(const fs::path& file);
// A message through the real window procedure, with a key such as VK_SHIFT held meanwhile.
void SendToWindow(UINT message, WPARAM wParam, LPARAM lParam = 0, std::vector<BYTE> held = {});
// Pumps this thread's messages until condition holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 5000);

// Polls until read() gives want; a failure tells the last value read.
template <class Read, class T>
testing::AssertionResult Becomes(Read read, const T& want) {
    auto last = read();
    if (WaitFor([&] { return (last = read()) == want; })) return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "still " << testing::PrintToString(last) << ", want " << testing::PrintToString(want);
}

std::wstring Title(HWND window);
// 0xAARRGGBB, top row first.
std::vector<DWORD> BitmapPixels(Gdiplus::Bitmap& bitmap);
