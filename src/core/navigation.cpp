#include "core/navigation.h"

#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>

#include "core/animation.h"
#include "core/app_state.h"
#include "core/folder_walk.h"
#include "imaging/composition.h"
#include "imaging/image_loading.h"
#include "imaging/read_ahead.h"

namespace {

int FileCount() {
    return static_cast<int>(app.fileNames.size());
}

// The picture just loaded, titled currentName, from its first frame. The icons follow, made by
// the caller; none show in fullscreen, where there is no title bar.
void ShowPicture() {
    app.loadFailures = 0;
    app.currentFrame = 0;
    SyncAnimationTimer();
    ComposeBackBuffer(app);
    Present();
    SetWindowTitle(app.currentName);
}

void ShowLoadedImage() {
    std::wcscpy(app.currentName, app.fileNames[app.currentIndex].c_str());
    ShowPicture();
}

// A picture loaded in another record takes the place of the one on show, as its load would have.
// Releasing a large picture takes milliseconds, so the one replaced is handed back instead, less
// the decoder that only this thread may release.
void AdoptPicture(AppState& loaded, Picture& replaced) {
    replaced = std::exchange(app.picture, std::move(loaded.picture));
    replaced.codec.reset();
    ++app.imageLoads;
    std::wcscpy(app.currentPath, loaded.currentPath);
}

// Its back buffer is composed again only where the view changed since.
void AdoptPrepared(Prepared& prepared, Picture& replaced) {
    app.currentIndex = prepared.index;
    AdoptPicture(prepared.state, replaced);
    AdoptBackBuffer(app, prepared.state);
    app.composed.imageLoad = app.imageLoads;
}

// The press's picture was read ahead: it only has to be shown.
bool ShowReadAhead(int step, Picture& replaced) {
    const std::unique_ptr<Prepared> prepared = TakeReadAhead(step);
    if (!prepared) return false;
    AdoptPrepared(*prepared, replaced);
    ShowLoadedImage();
    if (app.fullscreen) {
        DiscardPrepared(*prepared);
    } else {
        InstallWindowIcons(prepared->state.smallIcon, prepared->state.bigIcon);
    }
    return true;
}

// Ends the process once the worker is done with GDI+.
[[noreturn]] void EndWithNothingToShow() {
    StopReadAhead();
    std::exit(1);
}

// Windows file names ignore letter case, and a file may be given by its short 8.3 name.
bool NamesSameFile(const WIN32_FIND_DATAW& entry, const wchar_t* name) {
    return CompareStringOrdinal(entry.cFileName, -1, name, -1, TRUE) == CSTR_EQUAL ||
           CompareStringOrdinal(entry.cAlternateFileName, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// A file that could not be read for now counts as one that does not decode: the press shows
// what it can. The picture it replaces is handed back, as a press of a picture read ahead does.
void ShowNextLoadable(int step, Picture& replaced) {
    // Nothing to walk: keep the picture, unless it was just deleted.
    if (FileCount() == 0 && HasPicture(app.picture)) return;
    replaced = std::exchange(app.picture, {});
    replaced.codec.reset();
    for (;;) {
        const WalkEnd end = WalkToLoadable(app, step);
        if (end == WalkEnd::kNothingLoads) EndWithNothingToShow();
        if (end == WalkEnd::kLoaded) break;
        app.loadFailures += 1;
    }
    ShowLoadedImage();
    if (!app.fullscreen) RefreshWindowIcons();
}

}  // namespace

void BuildFolderList(const wchar_t* path) {
    app.fileNames.clear();
    app.currentIndex = 0;
    if (!SplitPath(path, app.folderPath, app.currentName)) return;

    const std::wstring pattern = std::wstring(app.folderPath) + L"\\*";
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW(pattern.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return;
    int sameFile = -1;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        if (std::wcscmp(entry.cFileName, app.currentName) == 0) sameFile = FileCount();
        if (sameFile < 0 && NamesSameFile(entry, app.currentName)) sameFile = FileCount();
        app.fileNames.emplace_back(entry.cFileName);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    // The exact name wins, as a folder may tell letter case apart; the title shows the listed name.
    if (sameFile < 0) return;
    app.currentIndex = sameFile;
    std::wcscpy(app.currentName, app.fileNames[sameFile].c_str());
}

void Navigate(int step) {
    app.travel = step;
    Picture replaced;
    if (!ShowReadAhead(step, replaced)) ShowNextLoadable(step, replaced);
    StartReadAhead(app.travel, std::move(replaced));
}

// The walk starts beside the end, wrapping past it, so that its first try is the end's own entry.
void NavigateToEnd(int end) {
    if (FileCount() == 0) return;
    app.currentIndex = end < 0 ? FileCount() - 1 : 0;
    Navigate(-end);
}

bool OpenHere(const wchar_t* path) {
    wchar_t full[MAX_PATH];
    AppState loaded;
    if (!MakeFullPath(path, full) || LoadImageFile(loaded, full) != LoadResult::kLoaded) {
        return false;
    }
    Picture replaced;
    AdoptPicture(loaded, replaced);
    BuildFolderList(full);
    ShowPicture();
    if (!app.fullscreen) RefreshWindowIcons();
    StartReadAhead(app.travel, std::move(replaced));
    return true;
}

void ListFolderAgain() {
    const std::vector<std::wstring> before = std::move(app.fileNames);
    const int shown = app.currentIndex;
    BuildFolderList(app.currentPath);
    if (GetFileAttributesW(app.currentPath) != INVALID_FILE_ATTRIBUTES) {
        StartReadAhead(app.travel, {});
        return;
    }
    // Gone: the walk goes on from the first entry after it that is still listed.
    const int count = static_cast<int>(before.size());
    auto next = app.fileNames.end();
    for (int i = 1; i < count && next == app.fileNames.end(); ++i) {
        next = std::find(app.fileNames.begin(), app.fileNames.end(), before[(shown + i) % count]);
    }
    app.currentIndex = next == app.fileNames.end() ? -1 : int(next - app.fileNames.begin()) - 1;
    Navigate(+1);
}

void SetWindowTitle(const wchar_t* text) {
    SendMessageW(app.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
