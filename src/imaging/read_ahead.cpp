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
    bool busy = false;                  // work is going on for `running`
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

// The pixels of the largest picture that the budget leaves room for beside those shown: its
// reductions hold a third as many again.
long long LargestPictureWithin(long long shownPixels) {
    return (ReadAheadBudgetPixels() - shownPixels) / 4 * 3;
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
    job.retired = {};
    AppState& state = job.state;
    state.currentIndex = job.from;
    const WalkEnd end = WalkToLoadable(state, job.step, LargestPictureWithin(job.shownPixels),
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

// The system's codecs need COM on every thread that decodes with them.
DWORD WINAPI RunWorker(void*) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    Locked locked;
    for (;;) {
        while (!worker.waiting && !worker.stopping) WaitForChange();
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
            DiscardPrepared(*job);
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

// Drops what is finished or not begun, and has the running work's result dropped too.
void DropAllWork() {
    if (worker.ready) DiscardPrepared(*worker.ready);
    worker.ready.reset();
    worker.waiting.reset();
    worker.cancelled = worker.busy;
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
    job->retired = std::move(retired);
    job->from = app.currentIndex;
    job->step = step;
    job->shownPixels = HeldPixels(app.picture);
    Locked locked;
    DropAllWork();
    if (app.fileNames.empty() || job->shownPixels > ReadAheadBudgetPixels()) return;
    CopyFolderAndView(job->state);
    worker.waiting = std::move(job);
    if (!worker.thread) worker.thread = CreateThread(nullptr, 0, RunWorker, nullptr, 0, nullptr);
    WakeAllConditionVariable(&worker.changed);
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

void WaitForReadAhead() {
    Locked locked;
    while (worker.thread && (worker.busy || worker.waiting)) WaitForChange();
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
