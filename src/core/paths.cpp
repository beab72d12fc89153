#include "core/paths.h"

#include <cwchar>
#include <string>

#include "platform/platform.h"

bool MakeFullPath(const wchar_t* path, wchar_t* out) {
    const DWORD length = GetFullPathNameW(path, MAX_PATH, out, nullptr);
    return length > 0 && length < MAX_PATH;
}

bool SplitPath(const wchar_t* path, wchar_t* folder, wchar_t* name) {
    const wchar_t* backslash = std::wcsrchr(path, L'\\');
    const wchar_t* slash = std::wcsrchr(path, L'/');
    const wchar_t* separator = std::max(backslash, slash);
    const std::wstring folderPart = separator ? std::wstring(path, separator) : L".";
    const wchar_t* namePart = separator ? separator + 1 : path;
    if (folderPart.size() >= MAX_PATH || std::wcslen(namePart) >= MAX_PATH) return false;
    std::wcscpy(folder, folderPart.c_str());
    std::wcscpy(name, namePart);
    return true;
}

bool JoinPath(const wchar_t* folder, const wchar_t* name, wchar_t* out) {
    const size_t length = std::wcslen(folder) + 1 + std::wcslen(name);
    if (length >= MAX_PATH) return false;
    std::swprintf(out, MAX_PATH, L"%ls\\%ls", folder, name);
    return true;
}
