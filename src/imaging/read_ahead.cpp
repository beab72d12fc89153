#include "imaging/read_ahead.h"

#include <cwchar>

#include "core/folder_walk.h"
#include "imaging/codecs.h"
#include "imaging/composition.h"
#include "imaging/memory_limits.h"

namespace {

// The hand-over between the window's thread and the worker. It lives outside the state record,
// which only the window's thread may touch; everything in it is guarded by `lock`.
struct Worker {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    HANDLE thread = nullptr;
    std::unique_ptr<Prepared> waiting;  // the next work, not begun
    std::unique_ptr<Prepared> ready;    // finished work
    std::vector<Picture> unwanted;      // pictures for the worker to release
    bool busy = false;                  // work is going on for `running`
    bool releasing = false;             // unwanted pictures are being released
    const Prepared* running = nullptr;  // the worker's; only from, step, folder and list read
    bool cancelled = false;             // its result is not wanted
    bool stopping = false;
};
Worker worker;

struct Locked {
    Locked() {
        AcquireSRWLockExclusive(&worker.lock);
    }
    ~Locked() {
        ReleaseSRWLockExclusive(&worker.lock);
    }
};

void WaitForChange() {
    SleepConditionVariableSRW(&worker.changed, &worker.lock, INFINITE, 0);
}

bool Wanted() {
    Locked locked;
    return !worker.cancelled && !worker.stopping;
}

FileStamp StampFile(int index, const wchar_t* path) {
    FileStamp stamp;
    stamp.index = index;
    stamp.exists = path && GetFileAttributesExW(path, GetFileExInfoStandard, &stamp.data);
    return stamp;
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
    return a.exists == b.exists &&
           (!a.exists || (a.data.nFileSizeHigh == b.data.nFileSizeHigh &&
                          a.data.nFileSizeLow == b.data.nFileSizeLow &&
                          CompareFileTime(&a.data.ftLastWriteTime, &b.data.ftLastWriteTime) == 0));
}

// Stamped before it is read: a file that changes after its stamp differs at the press.
bool StampAndGoOn(Prepared& job, int index) {
    wchar_t path[MAX_PATH];
    const AppState& state = job.state;
    const bool joined = JoinPath(state.folderPath, state.fileNames[index].c_str(), path);
    job.looked.push_back(StampFile(index, joined ? path : nullptr));
    return Wanted();
}

// Walks the folder as the press would, but leaves to the press an entry that could not be read
// for now or that would pass the budget: nothing is prepared then.
void Prepare(Prepared& job) {
    AppState& state = job.state;
    state.currentIndex = job.from;
    const WalkEnd end = WalkToLoadable(state, job.step, RoomBeside(job.shownPixels),
                                       [&job](int index) { return StampAndGoOn(job, index); });
    if (end != WalkEnd::kLoaded || !Wanted()) {
        state.picture = {};
        return;
    }
    job.index = state.currentIndex;
    ComposeBackBuffer(state);
    state.smallIcon = MakeImageIcon(state.picture, 16);
    state.bigIcon = MakeImageIcon(state.picture, 32);
}

// Released outside the lock: a large picture takes milliseconds to let go of.
void ReleaseUnwanted() {
    std::vector<Picture> pictures = std::move(worker.unwanted);
    worker.releasing = true;
    ReleaseSRWLockExclusive(&worker.lock);
    pictures.clear();
    AcquireSRWLockExclusive(&worker.lock);
    worker.releasing = false;
    WakeAllConditionVariable(&worker.changed);
}

// Its picture goes to the worker to release; the rest is small.
void DropPrepared(std::unique_ptr<Prepared> prepared) {
    if (!prepared) return;
    worker.unwanted.push_back(std::move(prepared->state.picture));
    DiscardPrepared(*prepared);
}

// The system's codecs need COM on every thread that decodes with them.
DWORD WINAPI RunWorker(void*) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Locked locked;
    for (;;) {
        while (!worker.waiting && worker.unwanted.empty() && !worker.stopping) WaitForChange();
        if (!worker.unwanted.empty()) {
            ReleaseUnwanted();
            continue;
        }
        if (worker.stopping) break;
        std::unique_ptr<Prepared> job = std::move(worker.waiting);
        worker.busy = true;
        worker.cancelled = false;
        worker.running = job.get();
        ReleaseSRWLockExclusive(&worker.lock);
        Prepare(*job);
        AcquireSRWLockExclusive(&worker.lock);
        worker.busy = false;
        worker.running = nullptr;
        if (worker.cancelled || worker.stopping) {
            DropPrepared(std::move(job));
        } else {
            worker.ready = std::move(job);
        }
        WakeAllConditionVariable(&worker.changed);
    }
    ReleaseCodecFactory();
    CoUninitialize();
    return 0;
}

// Work for the same press from the same entry of the same folder, listed the same.
bool ForThisPress(const Prepared& prepared, int step) {
    return prepared.from == app.currentIndex && prepared.step == step &&
           std::wcscmp(prepared.state.folderPath, app.folderPath) == 0 &&
           prepared.state.fileNames == app.fileNames;
}

bool StillAsLookedAt(const Prepared& prepared) {
    for (const FileStamp& then : prepared.looked) {
        wchar_t path[MAX_PATH];
        const bool joined = JoinPath(app.folderPath, app.fileNames[then.index].c_str(), path);
        if (!SameStamp(then, StampFile(then.index, joined ? path : nullptr))) return false;
    }
    return true;
}

// Drops what is finished or not begun, and has the running work's result dropped too. A picture
// finished is left to the worker to release.
void DropAllWork() {
    DropPrepared(std::move(worker.ready));
    worker.waiting.reset();
    worker.cancelled = worker.busy;
}

void StartWorker() {
    if (!worker.thread) worker.thread = CreateThread(nullptr, 0, RunWorker, nullptr, 0, nullptr);
    WakeAllConditionVariable(&worker.changed);
}

// A copy of what the worker reads from the state record: the folder and the view.
void CopyFolderAndView(AppState& copy) {
    std::wcscpy(copy.folderPath, app.folderPath);
    copy.fileNames = app.fileNames;
    copy.smoothScaling = app.smoothScaling;
    copy.backgroundIndex = app.backgroundIndex;
    copy.zoom = app.zoom;
    copy.fitToWindow = app.fitToWindow;
    copy.panX = app.panX;
    copy.panY = app.panY;
    copy.clientWidth = app.clientWidth;
    copy.clientHeight = app.clientHeight;
}

}  // namespace

void StartReadAhead(int step, Picture retired) {
    auto job = std::make_unique<Prepared>();
    job->from = app.currentIndex;
    job->step = step;
    job->shownPixels = HeldPixels(app.picture);
    Locked locked;
    DropAllWork();
    if (HasPicture(retired)) worker.unwanted.push_back(std::move(retired));
    if (!app.fileNames.empty() && job->shownPixels <= ReadAheadBudgetPixels()) {
        CopyFolderAndView(job->state);
        worker.waiting = std::move(job);
    }
    StartWorker();
}

std::unique_ptr<Prepared> TakeReadAhead(int step) {
    std::unique_ptr<Prepared> taken;
    {
        Locked locked;
        while (worker.busy && !worker.cancelled && ForThisPress(*worker.running, step)) {
            WaitForChange();
        }
        if (worker.ready && ForThisPress(*worker.ready, step)) taken = std::move(worker.ready);
        DropAllWork();
    }
    if (taken && (taken->index < 0 || !StillAsLookedAt(*taken))) {
        DiscardPrepared(*taken);
        taken.reset();
    }
    return taken;
}

void ReleaseReadAhead() {
    Locked locked;
    DropAllWork();
    StartWorker();
    while (worker.busy || worker.releasing || !worker.unwanted.empty()) WaitForChange();
}

void WaitForReadAhead() {
    Locked locked;
    while (worker.thread &&
           (worker.busy || worker.releasing || worker.waiting || !worker.unwanted.empty())) {
        WaitForChange();
    }
}

void StopReadAhead() {
    {
        Locked locked;
        DropAllWork();
        worker.stopping = true;
        WakeAllConditionVariable(&worker.changed);
    }
    if (worker.thread) WaitForSingleObject(worker.thread, INFINITE);
    if (worker.thread) CloseHandle(worker.thread);
    worker.thread = nullptr;
    worker.stopping = false;
}

void DiscardPrepared(Prepared& prepared) {
    AppState& state = prepared.state;
    state.picture = {};
    ReleaseBackBuffer(state);
    if (state.smallIcon) DestroyIcon(state.smallIcon);
    if (state.bigIcon) DestroyIcon(state.bigIcon);
    state.smallIcon = state.bigIcon = nullptr;
}
