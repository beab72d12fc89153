#include "core/navigation.h"

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>

#include "core/animation.h"
#include "core/app_state.h"
#include "core/folder_walk.h"
#include "imaging/composition.h"
#include "imaging/image_loading.h"
#include "imaging/memory_limits.h"
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
// Releasing a large picture takes milliseconds, so the one replaced is handed back instead.
void AdoptPicture(AppState& loaded, Picture& replaced) {
    replaced = std::exchange(app.picture, std::move(loaded.picture));
    std::wcscpy(app.currentPath, loaded.currentPath);
}

// Its back buffer is composed again only where the view changed since.
void AdoptPrepared(Prepared& prepared, Picture& replaced) {
    app.currentIndex = prepared.index;
    AdoptPicture(prepared.state, replaced);
    AdoptBackBuffer(app, prepared.state);
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

// Everything a press may let go of to make room for the picture it decodes: the picture it
// leaves, and all that the read-ahead holds.
void MakeRoom(Picture& left) {
    left = {};
    ReleaseReadAhead();
}

// The largest picture that may be decoded beside the one left: any, once that one is gone.
long long PixelLimitBeside(const Picture& left) {
    return HasPicture(left) ? RoomBeside(HeldPixels(left)) : LLONG_MAX;
}

// An entry that would not fit beside the picture left, or that memory was short for, is tried
// once more after room is made; only then does it count as one that does not decode, as does a
// file that could not be read for now: the press shows what it can. The picture replaced is
// handed back, as a press of a picture read ahead does.
void ShowNextLoadable(int step, Picture& replaced) {
    // Nothing to walk: keep the picture, unless it was just deleted.
    if (FileCount() == 0 && HasPicture(app.picture)) return;
    replaced = std::exchange(app.picture, {});
    if (RoomBeside(HeldPixels(replaced)) <= 0) MakeRoom(replaced);
    bool roomMade = !HasPicture(replaced);
    for (;;) {
        const WalkEnd end = WalkToLoadable(app, step, PixelLimitBeside(replaced));
        if (end == WalkEnd::kNothingLoads) EndWithNothingToShow();
        if (end == WalkEnd::kLoaded) break;
        if (roomMade) {
            app.loadFailures += 1;
            continue;
        }
        MakeRoom(replaced);
        roomMade = true;
        app.currentIndex = WrapIndex(app.currentIndex - step, FileCount());
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

bool OpenHere(const wchar_t* path) {
    wchar_t full[MAX_PATH];
    if (!MakeFullPath(path, full)) return false;
    AppState loaded;
    LoadResult result = LoadImageFile(loaded, full, PixelLimitBeside(app.picture));
    if (result == LoadResult::kOverLimit || result == LoadResult::kNotNow) {
        MakeRoom(app.picture);
        result = LoadImageFile(loaded, full);
    }
    if (result != LoadResult::kLoaded) {
        // The picture on show may have gone to make room: it comes back as a press brings it.
        if (!HasPicture(app.picture)) {
            app.currentIndex = WrapIndex(app.currentIndex - 1, FileCount());
            Navigate(+1);
        }
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
