#include "core/navigation.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <utility>

#include "core/animation.h"
#include "core/app_state.h"
#include "core/paths.h"
#include "imaging/composition.h"
#include "imaging/memory_limits.h"
#include "imaging/workers.h"
#include "imaging/work_pool.h"

namespace {

// The entry that a file opened here (dropped, or chosen in the Open dialog) is asked for as: it
// belongs to no listing until it shows.
constexpr int kOpening = INT_MIN;

int FileCount() {
    return static_cast<int>(app.fileNames.size());
}

int Wrap(int index) {
    return (index % FileCount() + FileCount()) % FileCount();
}

// Windows file names ignore letter case, and a file may be given by its short 8.3 name.
bool NamesSameFile(const WIN32_FIND_DATAW& entry, const wchar_t* name) {
    return CompareStringOrdinal(entry.cFileName, -1, name, -1, TRUE) == CSTR_EQUAL ||
           CompareStringOrdinal(entry.cAlternateFileName, -1, name, -1, TRUE) == CSTR_EQUAL;
}

std::wstring EntryPath(int index) {
    if (index == kOpening) return app.openingPath;
    wchar_t path[MAX_PATH];
    if (!JoinPath(app.folderPath, app.fileNames[index].c_str(), path)) return {};
    return path;
}

// What was prepared and not taken goes back to the workers to be released.
void DropPrepared(Prepared& prepared) {
    ReleaseElsewhere(std::move(prepared.state.picture));
    DiscardPrepared(prepared);
}

// The largest picture that may be decoded beside the one on show: any, once that one is gone.
long long PixelLimitBeside(const Picture& shown) {
    return HasPicture(shown) ? RoomBeside(HeldPixels(shown)) : LLONG_MAX;
}

// Asks the workers for the entry wanted (unless it is on show), its preview first; then for the
// entries that come next in the direction of travel, one for each processor, each within its share
// of the budget; and, once the entry wanted is on show, for the one behind where the budget leaves
// room for it: a held key leaves no decode running behind it. Nothing is read ahead while the
// entry wanted is decoded again after all was let go for it.
void AskAround(bool wantedToo) {
    std::vector<Ask> asks;
    if (wantedToo) {
        asks.push_back({app.wanted, EntryPath(app.wanted), true, PixelLimitBeside(app.picture)});
    }
    const int ahead =
        app.wanted == kOpening || app.roomMade ? 0 : std::min(CountProcessors(), FileCount() - 1);
    const long long room = RoomBeside(HeldPixels(app.picture));
    for (int i = 1; i <= ahead && room > 0; ++i) {
        const int index = Wrap(app.wanted + i * app.travel);
        asks.push_back({index, EntryPath(index), false, room / ahead});
    }
    const long long behindShare = room / (ahead + 1);
    if (!wantedToo && ahead > 0 && FileCount() > ahead + 1 && behindShare > 0 &&
        behindShare >= HeldPixels(app.picture)) {
        const int behind = Wrap(app.wanted - app.travel);
        asks.push_back({behind, EntryPath(behind), false, behindShare});
    }
    AskWorkers(std::move(asks), app.view, app.listing);
}

// The picture in another record takes the place of the one on show, with its back buffer (made
// again only where the view changed since) and, outside fullscreen, where there is no title bar,
// its icons. The record takes the picture it replaces, to be released once the press is answered.
void AdoptPrepared(Prepared& prepared) {
    std::swap(app.picture, prepared.state.picture);
    std::wcscpy(app.currentPath, prepared.state.currentPath);
    app.showsPreview = prepared.preview;
    app.currentFrame = 0;
    AdoptBackBuffer(app, prepared.state);
    SyncAnimationTimer();
    ComposeBackBuffer(app);
    Present();
    if (!app.fullscreen) {
        InstallWindowIcons(prepared.state.smallIcon, prepared.state.bigIcon);
        prepared.state.smallIcon = prepared.state.bigIcon = nullptr;
    }
}

// The title names what is on screen: the entry wanted, or the file being opened here.
void TitleWanted() {
    if (app.wanted == kOpening) {
        wchar_t folder[MAX_PATH];
        SplitPath(app.openingPath.c_str(), folder, app.currentName);
    } else {
        app.currentIndex = app.wanted;
        std::wcscpy(app.currentName, app.fileNames[app.wanted].c_str());
    }
    SetWindowTitle(app.currentName);
}

// A file opened here shows with its folder, listed afresh.
void SettleOpened() {
    app.openingPath.clear();
    BuildFolderList(app.currentPath);
    SetWindowTitle(app.currentName);
}

// Ends the program once no file of the folder can be shown: with code 1 once a picture was shown,
// else (the first file is none) with code 0 and no window left.
[[noreturn]] void EndWithNothingToShow() {
    const int code = app.pictureShown ? 1 : 0;
    if (app.window) DestroyWindow(app.window);
    ReleaseAllWork();
    std::exit(code);
}

// The entry wanted does not show: the walk goes on past it in the direction of travel, as a press
// would; a file opened here that is no picture changes nothing.
void WalkPastWanted() {
    if (!app.pictureShown) EndWithNothingToShow();
    if (app.wanted == kOpening) {
        // Its preview may have taken the place of the picture on show: that comes back.
        app.openingPath.clear();
        app.wanted = app.currentIndex;
        app.roomMade = false;
        if (app.showsPreview || !HasPicture(app.picture)) AskAround(true);
        return;
    }
    app.loadFailures += 1;
    if (FileCount() == 0 || app.loadFailures > FileCount()) EndWithNothingToShow();
    app.wanted = Wrap(app.wanted + app.travel);
    app.roomMade = false;
    AskAround(true);
}

// Everything a press may let go of to make room for the picture it decodes: the picture on show
// (its view stays on screen) and all that the workers hold.
void MakeRoom() {
    app.roomMade = true;
    ReleaseElsewhere(std::exchange(app.picture, {}));
    app.showsPreview = false;
    ReleaseAllWork();
}

// The picture wanted has been decoded, or could not be.
void TakePicture(Prepared& prepared) {
    const std::wstring path = EntryPath(prepared.index);
    const bool readAheadHeldBack = !prepared.wanted && (prepared.result == LoadResult::kNotNow ||
                                                        prepared.result == LoadResult::kOverLimit);
    // A file that changed since it was read is read as it is; one that the read-ahead left, for
    // want of room or because it could not be read then, the press reads itself.
    if (readAheadHeldBack || !SameStamp(prepared.stamp, StampFile(path.c_str()))) {
        AskAround(true);
        return;
    }
    if (prepared.result == LoadResult::kLoaded) {
        const bool opened = app.wanted == kOpening;
        AdoptPrepared(prepared);
        app.loadFailures = 0;
        app.roomMade = false;
        app.pictureShown = true;
        opened ? SettleOpened() : TitleWanted();
        AskAround(false);
    } else if (prepared.result != LoadResult::kNotAPicture && !app.roomMade) {
        // Too large to hold beside the picture on show, or memory was short: once more, alone.
        MakeRoom();
        AskAround(true);
    } else {
        WalkPastWanted();
    }
}

// The wanted entry's preview shows until its picture comes, unless a picture of it is on show.
void TakePreview(Prepared& prepared) {
    if (prepared.result != LoadResult::kLoaded ||
        (app.currentIndex == app.wanted && HasPicture(app.picture) && !app.showsPreview)) {
        return;
    }
    AdoptPrepared(prepared);
    TitleWanted();
}

// Takes the picture wanted, or its preview, for as long as the workers have finished one. True
// when a picture was taken, shown or not: what to ask next is then asked.
bool TakeWhatWorkersFinished() {
    bool taken = false;
    for (;;) {
        std::unique_ptr<Prepared> picture = TakeFinished(app.wanted, false, app.listing);
        std::unique_ptr<Prepared> preview = TakeFinished(app.wanted, true, app.listing);
        if (preview && !picture) TakePreview(*preview);
        if (preview) DropPrepared(*preview);
        if (!picture) return taken;
        TakePicture(*picture);
        DropPrepared(*picture);
        taken = true;
    }
}

// Asks again from the entry wanted, in direction step.
void AskFrom(int index, int step) {
    app.travel = step;
    app.wanted = index;
    app.loadFailures = 0;
    app.roomMade = false;
    if (RoomBeside(HeldPixels(app.picture)) <= 0) MakeRoom();
    // What is ready shows before more work is handed out to compete with it for the processors.
    if (!TakeWhatWorkersFinished()) AskAround(true);
}

}  // namespace

void BuildFolderList(const wchar_t* path) {
    app.listing += 1;
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
    if (sameFile >= 0) {
        app.currentIndex = sameFile;
        std::wcscpy(app.currentName, app.fileNames[sameFile].c_str());
    }
    app.wanted = app.currentIndex;
}

void Navigate(int step) {
    if (FileCount() == 0) {
        if (!HasPicture(app.picture)) EndWithNothingToShow();
        return;
    }
    const int from = app.wanted == kOpening ? app.currentIndex : app.wanted;
    AskFrom(Wrap(from + step), step);
}

// The walk starts at the end's own entry and goes inward, past what does not decode.
void NavigateToEnd(int end) {
    if (FileCount() == 0) return;
    AskFrom(end < 0 ? 0 : FileCount() - 1, -end);
}

void AskWorkersAround() {
    if (!app.showsPreview && HasPicture(app.picture)) app.pictureShown = true;
    AskAround(PressPending() || app.showsPreview);
}

bool PressPending() {
    return app.wanted != app.currentIndex;
}

void ShowWhatWorkersFinished() {
    TakeWhatWorkersFinished();
}

void OpenHere(const wchar_t* path) {
    wchar_t full[MAX_PATH];
    if (!MakeFullPath(path, full)) return;
    app.openingPath = full;
    AskFrom(kOpening, app.travel);
}

bool ShowFirst(const wchar_t* path) {
    wchar_t full[MAX_PATH];
    if (!MakeFullPath(path, full)) return false;
    app.openingPath = full;
    app.wanted = kOpening;
    AskAround(true);
    std::unique_ptr<Prepared> first = WaitForFinished(kOpening, app.listing);
    if (first->result != LoadResult::kLoaded) return false;
    app.picture = std::move(first->state.picture);
    DiscardPrepared(*first);
    app.showsPreview = first->preview;
    if (first->preview) {
        wchar_t folder[MAX_PATH];
        SplitPath(full, folder, app.currentName);
        return true;
    }
    std::wcscpy(app.currentPath, full);
    app.pictureShown = true;
    SettleOpened();
    return true;
}

void ListFolderAgain() {
    const std::vector<std::wstring> before = std::move(app.fileNames);
    const int shown = app.currentIndex;
    BuildFolderList(app.currentPath);
    if (GetFileAttributesW(app.currentPath) != INVALID_FILE_ATTRIBUTES) {
        app.wanted = app.currentIndex;
        AskAround(false);
        return;
    }
    // Gone: the walk goes on from the first entry after it that is still listed.
    const int count = static_cast<int>(before.size());
    auto next = app.fileNames.end();
    for (int i = 1; i < count && next == app.fileNames.end(); ++i) {
        next = std::find(app.fileNames.begin(), app.fileNames.end(), before[(shown + i) % count]);
    }
    app.currentIndex = next == app.fileNames.end() ? -1 : int(next - app.fileNames.begin()) - 1;
    app.wanted = app.currentIndex;
    Navigate(+1);
}

void SetWindowTitle(const wchar_t* text) {
    SendMessageW(app.window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}
