#include "imaging/workers.h"

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <utility>

#include "imaging/composition.h"
#include "imaging/image_loading.h"
#include "imaging/preview.h"
#include "imaging/work_pool.h"

namespace {

// One ask being worked on: for its preview or for its picture.
struct Task {
    Ask ask;
    bool preview = false;
    View view;
    unsigned listing = 0;
    // Set once the task is no longer asked for: its file's reads then fail, so that a decode
    // nobody wants gives up at once and leaves its processor to one that is wanted. The task
    // may be asked for again meanwhile: a new one is then started, told apart by this flag.
    std::shared_ptr<std::atomic<bool>> abandoned = std::make_shared<std::atomic<bool>>(false);
};

// The hand-over between the window's thread and the workers. It lives outside the state record,
// which only the window's thread may touch; everything in it is guarded by `lock`.
struct Workers {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    HWND window = nullptr;
    std::vector<Task> waiting;  // in order of need
    std::vector<Ask> asked;     // what is wanted, for the listing below
    unsigned listing = 0;
    std::vector<Task> running;
    std::vector<std::unique_ptr<Prepared>> finished;
    std::vector<Picture> unwanted;  // for a worker to release
    bool releasing = false;
    bool wantedHasPreview = false;   // the entry asked for has a preview, made for these asks
    std::vector<BackBuffer> spares;  // given back, for the next compositions
};
Workers workers;

struct Locked {
    Locked() {
        AcquireSRWLockExclusive(&workers.lock);
    }
    ~Locked() {
        ReleaseSRWLockExclusive(&workers.lock);
    }
};

// Back buffers kept for reuse: a new one costs milliseconds as its pages are first touched.
constexpr size_t kSpareBackBuffers = 2;

// Decodes take every processor; previews are short and never wait behind a decode.
int DecodeSlots() {
    return std::max(1, CountProcessors());
}

int Decoding() {
    return int(std::count_if(workers.running.begin(), workers.running.end(),
                             [](const Task& task) { return !task.preview; }));
}

void EndRunning(const Task& ended) {
    const auto task = std::find_if(workers.running.begin(), workers.running.end(),
                                   [&](const Task& t) { return t.abandoned == ended.abandoned; });
    if (task != workers.running.end()) workers.running.erase(task);
}

bool StillAsked(int index, bool preview, unsigned listing) {
    if (listing != workers.listing) return false;
    return std::any_of(workers.asked.begin(), workers.asked.end(), [&](const Ask& ask) {
        return ask.index == index && (!preview || ask.preview);
    });
}

// Its icons are released, its back buffer kept where there is room for it.
void Discard(Prepared& prepared) {
    AppState& state = prepared.state;
    if (state.backBuffer.bitmap && workers.spares.size() < kSpareBackBuffers) {
        workers.spares.push_back(std::exchange(state.backBuffer, {}));
    }
    ReleaseBackBuffer(state);
    if (state.smallIcon) DestroyIcon(state.smallIcon);
    if (state.bigIcon) DestroyIcon(state.bigIcon);
    state.smallIcon = state.bigIcon = nullptr;
}

// Its picture goes to a worker to release; the rest is small.
void DropPrepared(std::unique_ptr<Prepared> prepared) {
    workers.unwanted.push_back(std::move(prepared->state.picture));
    Discard(*prepared);
}

// A back buffer given back, of the view's size; none (to be made) if there is none.
BackBuffer TakeSpare(const View& view) {
    Locked locked;
    while (!workers.spares.empty()) {
        const BackBuffer spare = workers.spares.back();
        workers.spares.pop_back();
        if (spare.width == view.clientWidth && spare.height == view.clientHeight) return spare;
        DeleteObject(spare.bitmap);
    }
    return {};
}

// A photo's preview, from the first bytes of its file.
bool ReadPreview(const wchar_t* path, Picture& preview) {
    const HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned char> bytes(kPreviewHeaderBytes);
    DWORD read = 0;
    const BOOL ok = ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr);
    CloseHandle(file);
    return ok && MakePreview(bytes.data(), read, preview);
}

// The ask's preview or picture, composed for the view it was asked for, with its icons.
std::unique_ptr<Prepared> Prepare(const Task& task) {
    auto prepared = std::make_unique<Prepared>();
    prepared->index = task.ask.index;
    prepared->preview = task.preview;
    prepared->wanted = task.ask.preview;
    prepared->stamp = StampFile(task.ask.path.c_str());
    AppState& state = prepared->state;
    state.view = task.view;
    if (task.preview) {
        const bool made = ReadPreview(task.ask.path.c_str(), state.picture);
        prepared->result = made ? LoadResult::kLoaded : LoadResult::kNotAPicture;
        if (made) std::wcsncpy(state.currentPath, task.ask.path.c_str(), MAX_PATH - 1);
    } else {
        prepared->result =
            LoadImageFile(state, task.ask.path.c_str(), task.ask.pixelLimit, task.abandoned.get());
    }
    if (prepared->result != LoadResult::kLoaded || *task.abandoned) return prepared;
    state.backBuffer = TakeSpare(task.view);
    ComposeBackBuffer(state);
    state.smallIcon = MakeImageIcon(state.picture, 16);
    state.bigIcon = MakeImageIcon(state.picture, 32);
    return prepared;
}

void Dispatch();

__attribute__((force_align_arg_pointer)) void RunTask(void* context) {
    const std::unique_ptr<Task> task(static_cast<Task*>(context));
    std::unique_ptr<Prepared> prepared = Prepare(*task);
    Locked locked;
    EndRunning(*task);
    if (!*task->abandoned) {
        if (task->preview && prepared->result == LoadResult::kLoaded) {
            workers.wantedHasPreview = true;
        }
        workers.finished.push_back(std::move(prepared));
        // Before the window exists, start-up waits for the first picture itself.
        if (workers.window) PostMessageW(workers.window, kWorkFinished, 0, 0);
    } else {
        DropPrepared(std::move(prepared));
    }
    Dispatch();
    WakeAllConditionVariable(&workers.changed);
}

// Released outside the lock: a large picture takes milliseconds to let go of.
__attribute__((force_align_arg_pointer)) void RunRelease(void*) {
    AcquireSRWLockExclusive(&workers.lock);
    while (!workers.unwanted.empty()) {
        std::vector<Picture> pictures = std::move(workers.unwanted);
        workers.unwanted.clear();
        ReleaseSRWLockExclusive(&workers.lock);
        pictures.clear();
        AcquireSRWLockExclusive(&workers.lock);
    }
    workers.releasing = false;
    WakeAllConditionVariable(&workers.changed);
    ReleaseSRWLockExclusive(&workers.lock);
}

// What is read ahead waits while the entry wanted has its preview under way, and then, once it
// has a preview to show, until its picture is decoded: that picture has the processors to itself,
// and a held key, whose presses each show a preview, passes by what was read ahead for it.
bool ReadAheadWaits() {
    // A picture read ahead before its entry was asked for is the one wanted all the same.
    const auto holds = [](const Task& task) {
        return !*task.abandoned && StillAsked(task.ask.index, true, task.listing) &&
               (task.preview || workers.wantedHasPreview);
    };
    return std::any_of(workers.waiting.begin(), workers.waiting.end(), holds) ||
           std::any_of(workers.running.begin(), workers.running.end(), holds);
}

// A picture waits for a free processor, and what is read ahead while the entry wanted holds the
// processors. Before the window exists, the picture wanted waits with it: the window opens on
// its preview before a decode competes with the opening.
bool PictureWaits(const Task& task) {
    if (Decoding() >= DecodeSlots()) return true;
    const bool besidePreview = task.ask.preview && workers.window;
    return !besidePreview && ReadAheadWaits();
}

// Starts what may start: every preview first, then pictures while a processor is free, the one
// asked for beside its preview.
void Dispatch() {
    if (!workers.unwanted.empty() && !workers.releasing) {
        workers.releasing = true;
        if (!SubmitWork(RunRelease, nullptr)) workers.releasing = false;
    }
    for (auto task = workers.waiting.begin(); task != workers.waiting.end();) {
        if (!task->preview && PictureWaits(*task)) {
            ++task;
            continue;
        }
        auto* started = new Task(std::move(*task));
        task = workers.waiting.erase(task);
        workers.running.push_back(*started);
        if (!SubmitWork(RunTask, started)) {
            EndRunning(*started);
            delete started;
        }
    }
}

// Finished or under way already, for the listing asked for.
bool HasWork(const Ask& ask, bool preview) {
    const bool finished = std::any_of(
        workers.finished.begin(), workers.finished.end(),
        [&](const auto& done) { return done->index == ask.index && done->preview == preview; });
    return finished ||
           std::any_of(workers.running.begin(), workers.running.end(), [&](const Task& task) {
               return task.ask.index == ask.index && task.preview == preview && !*task.abandoned;
           });
}

// Work no longer asked for is dropped: finished, it goes to be released; running, it is abandoned.
void DropUnasked() {
    for (Task& task : workers.running) {
        if (!StillAsked(task.ask.index, task.preview, task.listing)) *task.abandoned = true;
    }
    for (auto done = workers.finished.begin(); done != workers.finished.end();) {
        if (StillAsked((*done)->index, (*done)->preview, workers.listing)) {
            ++done;
            continue;
        }
        DropPrepared(std::move(*done));
        done = workers.finished.erase(done);
    }
}

void DropAll() {
    workers.waiting.clear();
    workers.asked.clear();
    DropUnasked();
}

bool Idle() {
    return workers.running.empty() && !workers.releasing && workers.unwanted.empty();
}

}  // namespace

void StartWorkers(HWND window) {
    Locked locked;
    workers.window = window;
    Dispatch();
}

void AskWorkers(std::vector<Ask> asks, const View& view, unsigned listing) {
    Locked locked;
    workers.waiting.clear();
    workers.asked = std::move(asks);
    workers.listing = listing;
    workers.wantedHasPreview = false;
    DropUnasked();
    for (const Ask& ask : workers.asked) {
        if (ask.preview && !HasWork(ask, true))
            workers.waiting.push_back({ask, true, view, listing});
        if (!HasWork(ask, false)) workers.waiting.push_back({ask, false, view, listing});
    }
    Dispatch();
}

std::unique_ptr<Prepared> TakeFinished(int index, bool preview, unsigned listing) {
    Locked locked;
    if (listing != workers.listing) return nullptr;
    for (auto done = workers.finished.begin(); done != workers.finished.end(); ++done) {
        if ((*done)->index != index || (*done)->preview != preview) continue;
        std::unique_ptr<Prepared> taken = std::move(*done);
        workers.finished.erase(done);
        return taken;
    }
    return nullptr;
}

std::unique_ptr<Prepared> WaitForFinished(int index, unsigned listing) {
    Locked locked;
    for (;;) {
        for (auto done = workers.finished.begin(); done != workers.finished.end(); ++done) {
            const Prepared& prepared = **done;
            if (prepared.index != index || listing != workers.listing) continue;
            if (prepared.preview && prepared.result != LoadResult::kLoaded) {
                DropPrepared(std::move(*done));
                workers.finished.erase(done);
                break;
            }
            std::unique_ptr<Prepared> taken = std::move(*done);
            workers.finished.erase(done);
            return taken;
        }
        SleepConditionVariableSRW(&workers.changed, &workers.lock, INFINITE, 0);
    }
}

void ReleaseElsewhere(Picture picture) {
    if (!HasPicture(picture)) return;
    Locked locked;
    workers.unwanted.push_back(std::move(picture));
    Dispatch();
}

void ReleaseAllWork() {
    Locked locked;
    DropAll();
    Dispatch();
    while (!Idle()) SleepConditionVariableSRW(&workers.changed, &workers.lock, INFINITE, 0);
}

void WaitForWorkers() {
    Locked locked;
    while (!Idle() || !workers.waiting.empty()) {
        SleepConditionVariableSRW(&workers.changed, &workers.lock, INFINITE, 0);
    }
}

bool WorkersBusy() {
    Locked locked;
    return Decoding() > 0;
}

void DiscardPrepared(Prepared& prepared) {
    prepared.state.picture = {};
    Locked locked;
    Discard(prepared);
}

FileStamp StampFile(const wchar_t* path) {
    FileStamp stamp;
    stamp.exists = GetFileAttributesExW(path, GetFileExInfoStandard, &stamp.data);
    return stamp;
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
    return a.exists == b.exists &&
           (!a.exists || (a.data.nFileSizeHigh == b.data.nFileSizeHigh &&
                          a.data.nFileSizeLow == b.data.nFileSizeLow &&
                          CompareFileTime(&a.data.ftLastWriteTime, &b.data.ftLastWriteTime) == 0));
}
