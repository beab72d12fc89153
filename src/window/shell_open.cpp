#include "window/shell_open.h"

bool AskForFile(wchar_t* path, const wchar_t* folder, HWND owner) {
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = L"All\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrInitialDir = folder;
    // Left to itself, the dialog moves the current folder to wherever the user browsed.
    dialog.Flags = OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST | OFN_NOCHANGEDIR;
    return GetOpenFileNameW(&dialog);
}

// The running executable's own path: argument 0 may lack the folder or the extension.
void StartCopyForFile(const wchar_t* file) {
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    ShellExecuteW(nullptr, nullptr, program, QuoteArgument(file).c_str(), nullptr, SW_SHOW);
}

std::wstring QuoteArgument(const std::wstring& argument) {
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count double only before a quote, which itself needs escaping.
        const size_t repeat = c == L'"' ? 2 * backslashes + 1 : backslashes;
        quoted.append(repeat, L'\\');
        quoted += c;
        backslashes = 0;
    }
    quoted.append(2 * backslashes, L'\\');
    return quoted + L"\"";
}
