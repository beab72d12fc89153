#include "window/shell_open.h"

#include "platform/apartment.h"

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
    JoinApartment();
    return GetOpenFileNameW(&dialog);
}

// The running executable's own path: argument 0 may lack the folder or the extension.
void StartCopyForFile(const wchar_t* file) {
    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    JoinApartment();
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

std::vector<std::wstring> SplitCommandLine(const wchar_t* line) {
    // The program's path ends at the next quote if it begins with one, else at a space or tab.
    const bool quotedPath = *line == L'"';
    const wchar_t* at = line + (quotedPath ? 1 : 0);
    while (*at && (quotedPath ? *at != L'"' : *at != L' ' && *at != L'\t')) ++at;
    if (*at) ++at;
    std::vector<std::wstring> arguments;
    // Quotes in a row count in threes: 1 left over opens a quoted string, every third one is
    // itself a quote.
    int quotes = 0;
    size_t backslashes = 0;
    bool between = true;
    for (; *at; ++at) {
        if ((*at == L' ' || *at == L'\t') && quotes == 0) {
            between = true;
            backslashes = 0;
            continue;
        }
        if (between) arguments.emplace_back();
        between = false;
        std::wstring& argument = arguments.back();
        if (*at != L'"') {
            argument += *at;
            backslashes = *at == L'\\' ? backslashes + 1 : 0;
            continue;
        }
        // Backslashes before a quote count half; an odd one left over makes the quote literal.
        argument.resize(argument.size() - (backslashes + 1) / 2);
        if (backslashes % 2 == 1) argument += L'"';
        int run = backslashes % 2 == 1 ? 0 : 1;
        for (; at[1] == L'"'; ++at) ++run;
        quotes += run;
        argument.append(quotes / 3, L'"');
        quotes = quotes % 3 == 1 ? 1 : 0;
        backslashes = 0;
    }
    return arguments;
}
