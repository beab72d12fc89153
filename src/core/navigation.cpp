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
#include "imaging/pixels/memory_limits.h"
#include "imaging/work/workers.h"
#include "platform/work_pool.h"

namespace {

// The entry that a file opened here (dropped, or chosen in the Open dialog) is asked for as: it
// belongs to no listing until it shows.
constexpr int kOpening = INT_MIN;

int FileCount() {
    return static_cast<int>(app.fileNames.size());
}

// Into the listing, which must not be empty.
int Wrap(int index) {
    return (index % FileCount() + FileCount()) % FileCount();
}

// Windows file names ignore letter case, and a file may be given by its short 8.3 name.
bool NamesSameFile(const WIN32_FIND_DATAW& entry, const wchar_t* name) {
    return CompareStringOrdinal(entry.cFileName, -1, name, -1, TRUE) == CSTR_EQUAL ||
           CompareStringOrdinal(entry.cAlternateFileName, -1, name, -1, TRUE) == CSTR_EQUAL;
}

// Empty for an entry outside the listing, or one whose path would be too long.
std::wstring EntryPath(int index) {
    if (index == kOpening) return app.openingPath;
    wchar_t path[MAX_PATH];
    if (index < 0 || index >= FileCount() ||
        !JoinPath(app.folderPath, app.fileNames[index].c_str(), path)) {
        return {};
    }
    return path;
}

Ticket NewTicket() {
    return ++app.lastTicket;
}

// An ask for the entry, under the ticket it is asked for already, so that its work goes on; else
// under a new one.
Ask AskFor(int index) {
    Ask ask;
    ask.listing = app.listing;
    ask.index = index;
    ask.path = EntryPath(index);
    for (const Ask& asked : app.asks) {
        if (SameEntry(asked, ask)) ask.ticket = asked.ticket;
    }
    if (app.left.ticket && SameEntry(app.left, ask)) ask.ticket = app.left.ticket;
    if (!ask.ticket) ask.ticket = NewTicket();
    return ask;
}

bool WholeOnShow() {
    return !app.onShow.preview && HasPicture(app.onShow.picture);
}

bool WantedOnShow() {
    return app.wanted.ticket == app.shown.ticket && WholeOnShow();
}

// The largest picture that may be decoded beside the one on show: any, once that one is gone.
long long PixelLimitBeside(const Picture& shown) {
    return HasPicture(shown) ? RoomBeside(HeldPixels(shown)) : LLONG_MAX;
}

// In order of need: the next entry in the direction of travel, the one on show before (its picture
// is kept), the further ones ahead, one for each processor, and the one behind; never the entry on
// show, whose picture the window holds. While a key repeats, the next entry's preview is made
// beside the one asked for, so that it is ready, or under way, when the key comes to it.
void AddReadAheads(std::vector<Ask>& asks) {
    const int count = FileCount(), from = app.wanted.index, step = app.travel;
    if (count == 0) return;
    std::vector<int> order = {from + step};
    if (app.left.ticket && app.left.listing == app.listing) order.push_back(app.left.index);
    for (int i = 2; i <= std::min(CountProcessors(), count - 1); ++i) {
        order.push_back(from + i * step);
    }
    order.push_back(from - step);
    for (const int entry : order) {
        const int index = Wrap(entry);
        const bool onShow = index == app.shown.index && app.shown.listing == app.listing;
        if (index != from && !(onShow && WholeOnShow()) &&
            std::none_of(asks.begin(), asks.end(),
                         [&](const Ask& ask) { return ask.index == index; })) {
            asks.push_back(AskFor(index));
            asks.back().preview = app.keyRepeating && entry == from + step;
        }
    }
}

// Asks the workers for the entry wanted unless it shows whole: its preview first, unless that is on
// screen or there is none, and its picture (later, while a key repeats); then for what to read
// ahead. Nothing is read ahead for a file opened here, nor while the entry wanted needs the room of
// all else. kept is a picture the window let go of, for the workers to keep.
void AskAround(std::unique_ptr<Prepared> kept = nullptr) {
    std::vector<Ask> asks;
    if (!WantedOnShow() && !app.walkEnded) {
        Ask wanted = app.wanted;
        wanted.wanted = true;
        wanted.preview =
            !app.noPreview && !(app.onShow.preview && !app.onShow.rough && !PressPending());
        wanted.pictureLater = app.keyRepeating && !app.noPreview;
        wanted.repeating = app.keyRepeating;
        wanted.alone = app.roomMade;
        wanted.pixelLimit = PixelLimitBeside(app.onShow.picture);
        asks.push_back(wanted);
    }
    if (!app.roomMade && !app.walkEnded && app.wanted.index != kOpening) AddReadAheads(asks);
    app.asks = std::move(asks);
    app.asksPending = true;
    // A picture kept before under an ask that this one replaces is asked no more.
    if (kept) {
        ReleaseElsewhere(std::move(app.kept));
        app.kept = std::move(kept);
    }
}

// What another record shows takes the place of what is on show, with its back buffer (made again
// only where the view changed since) and its icons. The record takes what it replaces.
void AdoptPrepared(Prepared& prepared) {
    std::swap(app.onShow, prepared.shown);
    app.shown = prepared.ask;
    app.shownStamp = prepared.stamp;
    app.changed.picture = app.changed.icons = app.changed.frameTimer = true;
}

// The picture on show may be kept for going back to when it is a picture of an entry of this
// listing that shows as its file decodes: one frame, unturned.
bool MayKeepShown() {
    const Picture& picture = app.onShow.picture;
    return WholeOnShow() && HasPixels(picture) && picture.frameCount == 1 &&
           picture.quarterTurns == 0 && app.shown.listing == app.listing &&
           EntryPath(app.shown.index) == app.shown.path;
}

// Shows a record the workers prepared for the entry wanted. What it replaces comes back in the
// record, to be kept under an ask of its own where it may be; else it is released.
std::unique_ptr<Prepared> ShowPrepared(std::unique_ptr<Prepared> prepared, bool mayKeep) {
    const bool keep = mayKeep && MayKeepShown();
    Ask before;
    before.listing = app.shown.listing;
    before.index = app.shown.index;
    before.path = app.shown.path;
    const FileStamp stamp = app.shownStamp;
    AdoptPrepared(*prepared);
    if (!keep) {
        ReleaseElsewhere(std::move(prepared));
        return nullptr;
    }
    before.ticket = NewTicket();
    app.left = before;
    prepared->ask = before;
    prepared->shown.preview = prepared->shown.rough = false;
    prepared->result = LoadResult::kLoaded;
    prepared->stamp = stamp;
    std::wcscpy(prepared->shown.path, before.path.c_str());
    return prepared;
}

// The title names what is on screen: the entry wanted, or the file being opened here.
void TitleWanted() {
    if (app.wanted.index == kOpening) {
        wchar_t folder[MAX_PATH];
        SplitPath(app.wanted.path.c_str(), folder, app.currentName);
    } else {
        app.currentIndex = app.wanted.index;
        std::wcscpy(app.currentName, app.fileNames[app.wanted.index].c_str());
    }
    app.changed.title = true;
}

// A file opened here shows with its folder, listed afresh.
void SettleOpened() {
    app.openingPath.clear();
    BuildFolderList(app.onShow.path);
    app.changed.title = true;
}

// Ends the program once no file of the folder can be shown: with code 1 once a picture was shown,
// else (the first file is none) with code 0 and no window left. A decode under way is not waited
// for: the process ends at once, as at the program's end.
[[noreturn]] void EndWithNothingToShow() {
    const int code = app.pictureShown ? 1 : 0;
    if (!EndAllWork()) TerminateProcess(GetCurrentProcess(), code);
    std::exit(code);
}

// The entry is asked for anew under a ticket of its own: a file that changed since it was read.
void RenewWanted() {
    app.wanted.ticket = NewTicket();
    app.noPreview = false;
}

// The entry at index is wanted: as it is if it shows whole, else under an ask of its own.
void AimAt(int index) {
    const Ask entry = AskFor(index);
    if (SameEntry(entry, app.shown) && WholeOnShow()) {
        app.wanted = app.shown;
        return;
    }
    app.wanted = entry;
    app.noPreview = false;
}

// The entry on show is wanted again: as it is if it shows whole; else (its preview shows, or its
// picture was let go) its picture is asked for anew.
void AimAtShown() {
    app.wanted = app.shown;
    if (app.shown.index == kOpening) app.openingPath = app.shown.path;
    if (!WholeOnShow()) app.wanted.ticket = app.shown.ticket = NewTicket();
}

// No entry decoded all round the folder. The program ends, unless a picture was shown and its file
// is still there, as when memory is short for every picture: its view and title then stay, and
// the next press tries again.
void EndWalk() {
    if (!app.pictureShown || GetFileAttributesW(app.onShow.path) == INVALID_FILE_ATTRIBUTES) {
        EndWithNothingToShow();
    }
    app.wanted = app.shown;
    app.walkEnded = true;
    AskAround();
}

// A file opened here that does not show changes nothing: what was on show stays, and where its
// preview took the place of a picture of the folder, that entry shows again. Only a first file
// with nothing shown before ends the program.
void ReturnFromOpening() {
    const bool itsPreviewShows = app.shown.ticket == app.wanted.ticket;
    app.openingPath.clear();
    app.roomMade = false;
    if (itsPreviewShows && !app.pictureShown) EndWithNothingToShow();
    if (!itsPreviewShows) {
        AimAtShown();
    } else if (FileCount() > 0) {
        AimAt(Wrap(app.currentIndex));
    } else {
        EndWalk();
        return;
    }
    AskAround();
}

// The entry wanted does not show: the walk goes on past it in the direction of travel, as a press
// would, and stops at the picture on show.
void WalkPastWanted() {
    if (app.wanted.index == kOpening) {
        ReturnFromOpening();
        return;
    }
    app.loadFailures += 1;
    app.roomMade = false;
    if (FileCount() == 0 || app.loadFailures > FileCount()) {
        EndWalk();
        return;
    }
    AimAt(Wrap(app.wanted.index + app.travel));
    AskAround();
}

// Everything a press may let go of to make room for the picture it decodes: the picture on show
// (its view stays on screen) and all that the workers hold, which they release before the decode
// that needs the room begins.
void MakeRoom() {
    app.roomMade = true;
    app.left = {};
    ReleaseElsewhere(std::exchange(app.onShow.picture, {}));
    app.onShow.preview = false;
    RenewWanted();
}

void ShowPicture(std::unique_ptr<Prepared> prepared) {
    const bool opened = app.wanted.index == kOpening;
    std::unique_ptr<Prepared> kept = ShowPrepared(std::move(prepared), !opened);
    app.loadFailures = 0;
    app.roomMade = false;
    app.pictureShown = true;
    opened ? SettleOpened() : TitleWanted();
    AskAround(std::move(kept));
}

// The picture wanted has been decoded, or could not be.
void TakePicture(std::unique_ptr<Prepared> prepared) {
    const LoadResult result = prepared->result;
    // A file that changed since it was read is read as it is; one that the read-ahead could not
    // read then, the press reads itself.
    const bool readAheadLeft = !prepared->ask.wanted && result == LoadResult::kNotNow;
    if (readAheadLeft || !SameStamp(prepared->stamp, StampFile(app.wanted.path.c_str()))) {
        ReleaseElsewhere(std::move(prepared));
        RenewWanted();
        AskAround();
        return;
    }
    if (result == LoadResult::kLoaded) {
        ShowPicture(std::move(prepared));
        return;
    }
    ReleaseElsewhere(std::move(prepared));
    if (result != LoadResult::kNotAPicture && !app.roomMade) {
        // Too large to hold beside the picture on show, or memory was short: once more, alone.
        MakeRoom();
        AskAround();
    } else {
        WalkPastWanted();
    }
}

// The wanted entry's preview shows until its picture comes; without one, a picture held back
// for it begins. Where no sharper preview follows a rough one on show, that one stays.
void TakePreview(std::unique_ptr<Prepared> preview) {
    if (preview->result != LoadResult::kLoaded) {
        ReleaseElsewhere(std::move(preview));
        const bool roughOnShow = app.onShow.preview && app.onShow.rough && !PressPending();
        app.onShow.rough = false;
        app.noPreview = !roughOnShow;
        AskAround();
        return;
    }
    std::unique_ptr<Prepared> kept = ShowPrepared(std::move(preview), true);
    TitleWanted();
    AskAround(std::move(kept));
}

// Takes the picture of the entry wanted, or its preview, for as long as the workers have finished
// one; none while the shell asks about deleting the file on show. True when something was taken:
// what to ask next has then been asked.
bool TakeWhatWorkersFinished() {
    if (app.deleting) return false;
    for (bool taken = false;; taken = true) {
        std::unique_ptr<Prepared> picture = TakeFinished(app.wanted.ticket, false);
        std::unique_ptr<Prepared> preview = TakeFinished(app.wanted.ticket, true);
        if (!picture && !preview) return taken;
        if (picture) {
            ReleaseElsewhere(std::move(preview));
            TakePicture(std::move(picture));
        } else {
            TakePreview(std::move(preview));
        }
    }
}

// Asks again from the entry at index, in direction step. A press onto the entry on show changes
// nothing but what is read ahead.
void AskFrom(int index, int step) {
    app.travel = step;
    app.loadFailures = 0;
    app.roomMade = false;
    app.walkEnded = false;
    AimAt(index);
    if (!PressPending()) {
        AskAround();
        return;
    }
    if (RoomBeside(HeldPixels(app.onShow.picture)) <= 0) MakeRoom();
    // What is ready shows before more work is handed out to compete with it for the processors.
    if (!TakeWhatWorkersFinished()) AskAround();
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
    int sameFile = -1;
    while (find != INVALID_HANDLE_VALUE) {
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            if (std::wcscmp(entry.cFileName, app.currentName) == 0) sameFile = FileCount();
            if (sameFile < 0 && NamesSameFile(entry, app.currentName)) sameFile = FileCount();
            app.fileNames.emplace_back(entry.cFileName);
        }
        if (!FindNextFileW(find, &entry)) break;
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    // The exact name wins, as a folder may tell letter case apart; the title shows the listed name.
    const std::wstring listed = EntryPath(sameFile);
    if (!listed.empty()) {
        app.currentIndex = sameFile;
        std::wcscpy(app.currentName, app.fileNames[sameFile].c_str());
        std::wcscpy(app.onShow.path, listed.c_str());
    }
    // The picture on show is this listing's entry now, and the one wanted.
    app.shown.listing = app.listing;
    app.shown.index = app.currentIndex;
    app.shown.path = app.onShow.path;
    app.wanted = app.shown;
}

void Navigate(int step) {
    if (FileCount() == 0) {
        if (!HasPicture(app.onShow.picture)) EndWalk();
        return;
    }
    const int from = app.wanted.index == kOpening ? app.currentIndex : app.wanted.index;
    AskFrom(Wrap(from + step), step);
}

// The walk starts at the end's own entry and goes inward, past what does not decode.
void NavigateToEnd(int end) {
    if (FileCount() == 0) return;
    AskFrom(end < 0 ? 0 : FileCount() - 1, -end);
}

void AskWorkersAround() {
    if (WholeOnShow()) app.pictureShown = true;
    AskAround();
}

bool PressPending() {
    return app.wanted.ticket != app.shown.ticket;
}

void ShowWhatWorkersFinished() {
    TakeWhatWorkersFinished();
}

void LetGoOfKey() {
    app.keyRepeating = false;
    if (!WantedOnShow()) AskAround();
}

bool HandOutWork() {
    if (!app.asksPending) return true;
    app.asksPending = false;
    return AskWorkers(app.asks, app.view, HeldPixels(app.onShow.picture), std::move(app.kept));
}

void RetryWork() {
    if (!TakeWhatWorkersFinished()) AskAround();
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
    app.wanted = AskFor(kOpening);
    AskAround();
    HandOutWork();
    std::unique_ptr<Prepared> first = WaitForFinished(app.wanted.ticket);
    if (first->result != LoadResult::kLoaded) {
        ReleaseElsewhere(std::move(first));
        return false;
    }
    std::swap(app.onShow, first->shown);
    app.shown = app.wanted;
    app.shownStamp = first->stamp;
    ReleaseElsewhere(std::move(first));
    if (app.onShow.preview) {
        wchar_t folder[MAX_PATH];
        SplitPath(full, folder, app.currentName);
        return true;
    }
    app.pictureShown = true;
    SettleOpened();
    return true;
}

void ListFolderAgain() {
    const std::vector<std::wstring> before = std::move(app.fileNames);
    const int shown = app.currentIndex;
    BuildFolderList(app.onShow.path);
    app.left = {};
    app.loadFailures = 0;
    app.roomMade = false;
    app.walkEnded = false;
    if (GetFileAttributesW(app.onShow.path) != INVALID_FILE_ATTRIBUTES) {
        AimAtShown();
        AskAround();
        return;
    }
    // Gone: the walk goes on from the first entry after it that is still listed.
    const int count = static_cast<int>(before.size());
    auto next = app.fileNames.end();
    for (int i = 1; i < count && next == app.fileNames.end(); ++i) {
        next = std::find(app.fileNames.begin(), app.fileNames.end(), before[(shown + i) % count]);
    }
    if (FileCount() == 0) return;
    AskFrom(next == app.fileNames.end() ? 0 : int(next - app.fileNames.begin()), +1);
}

void WalkOnFromDeleted() {
    ReleaseElsewhere(std::exchange(app.onShow.picture, {}));
    app.onShow.preview = false;
    app.left = {};
    app.wanted = app.shown;
    Navigate(+1);
}
