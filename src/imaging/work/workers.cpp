#include "imaging/work/workers.h"

#include <algorithm>
#include <cwchar>
#include <new>
#include <utility>

#include "imaging/pixels/composition.h"
#include "imaging/decode/image_loading.h"
#include "imaging/pixels/memory_limits.h"
#include "imaging/preview/preview.h"
#include "platform/work_pool.h"

namespace {

constexpr long long kNotRead = -2;  // a header not read yet; -1 is one read that declares no size

// One ask being worked on: for its preview or for its picture.
struct Task {
    Ask ask;
    bool preview = false;
    View view;
    unsigned long long run = 0;     // tells this run from any other, while it runs
    long long declared = kNotRead;  // the pixels its header declares
    bool refused = false;           // its decode did not fit the budget when it was to begin
    long long reserved = 0;         // held pixels counted for its decode while it runs
};

// The hand-over between the window's thread and the workers. It lives outside the state record,
// which only the window's thread may touch; everything in it is guarded by `lock`, which is held
// only to move records and count, never while anything is decoded, composed or released.
struct Workers {
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    HWND window = nullptr;
    std::vector<Ask> asked;  // in order of need
    View view;
    long long windowHeld = 0;   // the pixels of the picture on show
    std::vector<Task> waiting;  // previews first, then in order of need
    std::vector<Task> running;
    unsigned long long runs = 0;
    std::vector<std::unique_ptr<Prepared>> finished;
    std::vector<std::unique_ptr<Prepared>> unwanted;  // for a worker to release
    bool releasing = false;
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

// Held pixels of a picture of these pixels, its reductions included.
long long WithReductions(long long pixels) {
    return pixels + pixels / 3;
}

// The place of the ticket's ask in the order of need: past the last for one not asked.
size_t Rank(Ticket ticket) {
    const auto& asked = workers.asked;
    return size_t(std::find_if(asked.begin(), asked.end(),
                               [&](const Ask& ask) { return ask.ticket == ticket; }) -
                  asked.begin());
}

Ask* Asked(Ticket ticket) {
    const size_t rank = Rank(ticket);
    return rank < workers.asked.size() ? &workers.asked[rank] : nullptr;
}

bool StillAsked(Ticket ticket, bool preview) {
    const Ask* ask = Asked(ticket);
    return ask && (!preview || ask->preview);
}

Task* Running(unsigned long long run) {
    for (Task& task : workers.running) {
        if (task.run == run) return &task;
    }
    return nullptr;
}

int Decoding() {
    return int(std::count_if(workers.running.begin(), workers.running.end(),
                             [](const Task& task) { return !task.preview; }));
}

bool IsFinished(Ticket ticket, bool preview) {
    return std::any_of(workers.finished.begin(), workers.finished.end(), [&](const auto& done) {
        return done->ask.ticket == ticket && done->shown.preview == preview;
    });
}

// The entry asked for by a press has no picture finished yet: what is read ahead waits for it,
// but for the next entry while a key repeats over pictures without previews, which the key comes
// to next. Over previews, nothing is decoded while the key repeats.
bool WantedOutstanding(bool next) {
    return std::any_of(workers.asked.begin(), workers.asked.end(), [&](const Ask& ask) {
        const bool beside = next && ask.repeating && !ask.pictureLater;
        return ask.wanted && !IsFinished(ask.ticket, false) && !beside;
    });
}

// The next entry to read ahead: a press soon after comes to it.
Ticket NextTicket() {
    const auto next = std::find_if(workers.asked.begin(), workers.asked.end(),
                                   [](const Ask& ask) { return !ask.wanted; });
    return next == workers.asked.end() ? 0 : next->ticket;
}

// The next entry is being decoded: it has the processors to itself.
bool NextDecoding() {
    return std::any_of(workers.running.begin(), workers.running.end(), [](const Task& task) {
        return task.ask.ticket == NextTicket() && !task.preview;
    });
}

// A read-ahead needed more than rank has begun and not read its header yet: headers are read in
// order of need, so that the room goes to the entry needed most.
bool HeaderUnreadBefore(size_t rank) {
    return std::any_of(workers.running.begin(), workers.running.end(), [&](const Task& task) {
        return !task.preview && task.declared == kNotRead && Rank(task.ask.ticket) < rank;
    });
}

// Pixels held or in flight that an ask of this rank cannot have: the picture on show, decodes
// under way, what waits to be released, and what is finished for asks needed more.
long long HeldBefore(size_t rank) {
    long long held = workers.windowHeld;
    for (const Task& task : workers.running) held += task.reserved;
    for (const auto& record : workers.unwanted) held += HeldPixels(record->shown.picture);
    for (const auto& done : workers.finished) {
        if (Rank(done->ask.ticket) < rank) held += HeldPixels(done->shown.picture);
    }
    return held;
}

bool FitsBudget(size_t rank, long long declared) {
    return declared >= 0 && HeldBefore(rank) + WithReductions(declared) <= ReadAheadBudgetPixels();
}

void SortWaiting() {
    std::stable_sort(workers.waiting.begin(), workers.waiting.end(),
                     [](const Task& a, const Task& b) {
                         return std::pair(!a.preview, Rank(a.ask.ticket)) <
                                std::pair(!b.preview, Rank(b.ask.ticket));
                     });
}

// Lets go of what is finished for asks needed less than rank, the least needed first, until need
// fits the budget beside everything else. Each ask let go of waits again, its size known.
void LetGoOfLesser(size_t rank, long long need) {
    long long held = HeldBefore(rank);
    for (const auto& done : workers.finished) {
        if (Rank(done->ask.ticket) >= rank) held += HeldPixels(done->shown.picture);
    }
    while (held + need > ReadAheadBudgetPixels()) {
        auto least = workers.finished.end();
        for (auto done = workers.finished.begin(); done != workers.finished.end(); ++done) {
            const size_t at = Rank((*done)->ask.ticket);
            if (at > rank && at < workers.asked.size() && !(*done)->shown.preview &&
                (least == workers.finished.end() || at > Rank((*least)->ask.ticket))) {
                least = done;
            }
        }
        if (least == workers.finished.end()) return;
        const Picture& picture = (*least)->shown.picture;
        held -= HeldPixels(picture);
        Task again = {*Asked((*least)->ask.ticket), false, workers.view};
        again.declared = static_cast<long long>(picture.imageWidth) * picture.imageHeight;
        workers.waiting.push_back(again);
        workers.unwanted.push_back(std::move(*least));
        workers.finished.erase(least);
    }
    SortWaiting();
}

// Previews never wait. The picture a press asked for begins at once, never behind what is read
// ahead, unless a key is held or the window is to open on its preview first (a start-up's ask
// keeps its preview until that fails); one that needs the room of all else begins once all is
// released. What is read ahead waits for the press's picture (the next entry only while no key
// repeats) and for the next entry's, takes only a free processor, and begins only where its
// header declares a size that fits.
bool MayStart(const Task& task) {
    const Ask& ask = task.ask;
    if (task.preview) return true;
    if (ask.alone) {
        return workers.running.empty() && workers.unwanted.empty() && !workers.releasing;
    }
    if (ask.wanted) return !ask.pictureLater && (workers.window || !ask.preview);
    const bool next = ask.ticket == NextTicket();
    if (WantedOutstanding(next) || (!next && NextDecoding()) ||
        HeaderUnreadBefore(Rank(ask.ticket)) || Decoding() >= std::max(1, CountProcessors())) {
        return false;
    }
    return task.declared == kNotRead || FitsBudget(Rank(ask.ticket), task.declared);
}

__attribute__((force_align_arg_pointer)) void RunRelease(void*);

void StartRelease() {
    if (!workers.unwanted.empty() && !workers.releasing) {
        workers.releasing = SubmitWork(RunRelease, nullptr);
    }
}

bool Dispatch();

// Asked from a decode's own thread once its header is read.
bool MayDecode(unsigned long long run, long long declared) {
    Locked locked;
    Task* const task = Running(run);
    const Ask* const ask = task ? Asked(task->ask.ticket) : nullptr;
    if (!ask) return false;
    task->declared = declared;
    const size_t rank = Rank(ask->ticket);
    if (ask->wanted ? declared > ask->pixelLimit : !FitsBudget(rank, declared)) {
        task->refused = true;
        Dispatch();
        return false;
    }
    task->reserved = WithReductions(std::max(declared, 0LL));
    LetGoOfLesser(rank, 0);
    Dispatch();
    return true;
}

bool StillWanted(unsigned long long run) {
    Locked locked;
    const Task* const task = Running(run);
    return task && StillAsked(task->ask.ticket, task->preview);
}

// A back buffer given back, of the view's size; none (to be made) if there is none.
BackBuffer TakeSpare(const View& view) {
    std::vector<BackBuffer> others;
    BackBuffer spare;
    {
        Locked locked;
        while (!workers.spares.empty() && !spare.bitmap) {
            const BackBuffer given = workers.spares.back();
            workers.spares.pop_back();
            const bool fits = given.width == view.clientWidth && given.height == view.clientHeight;
            (fits ? spare : others.emplace_back()) = given;
        }
    }
    for (const BackBuffer& other : others) DeleteObject(other.bitmap);
    return spare;
}

// A JPEG's whole file up to this size is read for its own decode at an eighth of its size; of a
// larger one, only its first bytes, for the thumbnail they carry.
constexpr LONGLONG kWholePreviewBytes = 64 << 20;

// The file's first bytes, which hold a photo's thumbnail: at most kPreviewHeaderBytes.
std::vector<unsigned char> ReadHead(HANDLE file) {
    std::vector<unsigned char> bytes(kPreviewHeaderBytes);
    DWORD read = 0;
    if (!ReadFile(file, bytes.data(), DWORD(bytes.size()), &read, nullptr)) read = 0;
    bytes.resize(read);
    return bytes;
}

// The rest of a JPEG's file after its first bytes, where the whole is not too large and memory
// is not short.
void ReadRest(HANDLE file, std::vector<unsigned char>& bytes) {
    LARGE_INTEGER size = {};
    const size_t before = bytes.size();
    if (before < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8 || !GetFileSizeEx(file, &size) ||
        size.QuadPart <= LONGLONG(before) || size.QuadPart > kWholePreviewBytes) {
        return;
    }
    try {
        bytes.resize(size_t(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return;
    }
    DWORD read = 0;
    if (!ReadFile(file, bytes.data() + before, DWORD(bytes.size() - before), &read, nullptr)) {
        read = 0;
    }
    bytes.resize(before + read);
}

// A record for the task's work, its file stamped as the work begins.
std::unique_ptr<Prepared> NewRecord(const Task& task) {
    auto prepared = std::make_unique<Prepared>();
    prepared->ask = task.ask;
    prepared->shown.preview = task.preview;
    prepared->stamp = StampFile(task.ask.path.c_str());
    return prepared;
}

// The record's picture composed for the view, with its icons.
void Compose(Prepared& prepared, const View& view) {
    Shown& shown = prepared.shown;
    prepared.result = LoadResult::kLoaded;
    std::wcsncpy(shown.path, prepared.ask.path.c_str(), MAX_PATH - 1);
    shown.backBuffer = TakeSpare(view);
    ComposeBackBuffer(shown, view);
    shown.smallIcon = MakeImageIcon(shown.picture, 16);
    shown.bigIcon = MakeImageIcon(shown.picture, 32);
}

void HandOverRough(unsigned long long run, std::unique_ptr<Prepared> rough);

// A photo's preview: its own decode at an eighth of its size. Its Exif thumbnail, faster still,
// goes to the window first, as a rough preview that this one replaces where the decode succeeds.
void ReadPreview(const Task& task, Prepared& prepared) {
    const HANDLE file = CreateFileW(task.ask.path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    std::vector<unsigned char> bytes = ReadHead(file);
    const unsigned long long run = task.run;
    auto rough = NewRecord(task);
    if (MakeThumbnailPreview(bytes.data(), bytes.size(), rough->shown.picture)) {
        rough->shown.rough = true;
        Compose(*rough, task.view);
        HandOverRough(run, std::move(rough));
    }
    ReadRest(file, bytes);
    CloseHandle(file);
    const long long limit = std::min(task.ask.pixelLimit, LargestPicturePixels());
    if (MakeReducedPreview(
            bytes.data(), bytes.size(), limit, [run] { return StillWanted(run); },
            prepared.shown.picture)) {
        prepared.result = LoadResult::kLoaded;
    }
}

// The ask's preview or picture, composed for the view it was asked for, with its icons; nothing
// more once it is no longer wanted.
std::unique_ptr<Prepared> Prepare(const Task& task) {
    auto prepared = NewRecord(task);
    const unsigned long long run = task.run;
    if (task.preview) {
        ReadPreview(task, *prepared);
    } else {
        const LoadGate gate = {[run](long long declared) { return MayDecode(run, declared); },
                               [run] { return StillWanted(run); }};
        prepared->result = LoadImageFile(prepared->shown.picture, task.ask.path.c_str(),
                                         task.ask.pixelLimit, &gate);
    }
    if (prepared->result == LoadResult::kLoaded && StillWanted(run)) Compose(*prepared, task.view);
    return prepared;
}

void Deliver(std::unique_ptr<Prepared> prepared) {
    workers.finished.push_back(std::move(prepared));
    // Before the window exists, start-up waits for the first picture itself.
    if (workers.window) PostMessageW(workers.window, kWorkFinished, 0, 0);
}

// A rough preview of the ticket that the window has not taken is not worth taking now.
void ReleaseRough(Ticket ticket) {
    for (auto done = workers.finished.begin(); done != workers.finished.end(); ++done) {
        if ((*done)->ask.ticket == ticket && (*done)->shown.rough) {
            workers.unwanted.push_back(std::move(*done));
            workers.finished.erase(done);
            return;
        }
    }
}

// What a run made goes to the window, or to be released. A read-ahead that did not fit waits
// again, undecoded, with the size its header declared (or none it would begin with).
void Finish(unsigned long long run, std::unique_ptr<Prepared> prepared) {
    const auto ran = std::find_if(workers.running.begin(), workers.running.end(),
                                  [&](const Task& task) { return task.run == run; });
    Task task = *ran;
    workers.running.erase(ran);
    const Ask* const ask = Asked(task.ask.ticket);
    const bool parked =
        ask && !task.preview && !ask->wanted && prepared->result == LoadResult::kOverLimit;
    if (parked) {
        task = {*ask, false, workers.view, 0, task.refused ? task.declared : -1};
        workers.waiting.push_back(task);
        SortWaiting();
    }
    if (parked || !StillAsked(task.ask.ticket, task.preview)) {
        workers.unwanted.push_back(std::move(prepared));
        return;
    }
    if (task.preview && prepared->result == LoadResult::kLoaded) ReleaseRough(task.ask.ticket);
    Deliver(std::move(prepared));
}

// A rough preview goes to the window while the run goes on, unless nobody wants it any more.
void HandOverRough(unsigned long long run, std::unique_ptr<Prepared> rough) {
    Locked locked;
    const Task* const task = Running(run);
    if (!task || !StillAsked(task->ask.ticket, true)) {
        workers.unwanted.push_back(std::move(rough));
        StartRelease();
        return;
    }
    Deliver(std::move(rough));
}

__attribute__((force_align_arg_pointer)) void RunTask(void* context) {
    const std::unique_ptr<Task> task(static_cast<Task*>(context));
    std::unique_ptr<Prepared> prepared = Prepare(*task);
    Locked locked;
    Finish(task->run, std::move(prepared));
    Dispatch();
    WakeAllConditionVariable(&workers.changed);
}

// Its picture, icons and back buffer go, the back buffer kept where there is room for it.
void Release(std::unique_ptr<Prepared> record) {
    Shown& shown = record->shown;
    shown.picture = {};
    for (const HICON icon : {shown.smallIcon, shown.bigIcon}) {
        if (icon) DestroyIcon(icon);
    }
    const BackBuffer buffer = std::exchange(shown.backBuffer, {});
    if (!buffer.bitmap) return;
    {
        Locked locked;
        if (workers.spares.size() < kSpareBackBuffers) {
            workers.spares.push_back(buffer);
            return;
        }
    }
    DeleteObject(buffer.bitmap);
}

// Released outside the lock: a large picture takes milliseconds to let go of.
__attribute__((force_align_arg_pointer)) void RunRelease(void*) {
    AcquireSRWLockExclusive(&workers.lock);
    while (!workers.unwanted.empty()) {
        std::vector<std::unique_ptr<Prepared>> records = std::move(workers.unwanted);
        workers.unwanted.clear();
        ReleaseSRWLockExclusive(&workers.lock);
        for (auto& record : records) Release(std::move(record));
        AcquireSRWLockExclusive(&workers.lock);
    }
    workers.releasing = false;
    Dispatch();
    WakeAllConditionVariable(&workers.changed);
    ReleaseSRWLockExclusive(&workers.lock);
}

// Starts the release and what may start, in order. False when the pool could not take a job: it
// waits, and is handed again when a worker finishes or the window asks next.
bool Dispatch() {
    StartRelease();
    for (size_t i = 0; i < workers.waiting.size();) {
        Task& next = workers.waiting[i];
        if (!MayStart(next)) {
            ++i;
            continue;
        }
        next.run = ++workers.runs;
        workers.running.push_back(next);
        auto* const started = new (std::nothrow) Task(next);
        if (!started || !SubmitWork(RunTask, started)) {
            delete started;
            workers.running.pop_back();
            next.run = 0;
            return false;
        }
        workers.waiting.erase(workers.waiting.begin() + ptrdiff_t(i));
    }
    return workers.releasing || workers.unwanted.empty();
}

// Work for the ask unless it has some: a task waiting already takes the ask and view as they are.
void AskOnce(const Ask& ask, bool preview) {
    const auto same = [&](const Task& task) {
        return task.ask.ticket == ask.ticket && task.preview == preview;
    };
    if (IsFinished(ask.ticket, preview) ||
        std::any_of(workers.running.begin(), workers.running.end(), same)) {
        return;
    }
    const auto waiting = std::find_if(workers.waiting.begin(), workers.waiting.end(), same);
    if (waiting == workers.waiting.end()) {
        workers.waiting.push_back({ask, preview, workers.view});
    } else {
        waiting->ask = ask;
        waiting->view = workers.view;
    }
}

// Work no longer asked for is dropped: waiting, it never begins; finished, it is released.
// Running, it finishes and is released then.
void DropUnasked() {
    auto& waiting = workers.waiting;
    waiting.erase(
        std::remove_if(waiting.begin(), waiting.end(),
                       [](const Task& task) { return !StillAsked(task.ask.ticket, task.preview); }),
        waiting.end());
    for (auto done = workers.finished.begin(); done != workers.finished.end();) {
        if (StillAsked((*done)->ask.ticket, (*done)->shown.preview)) {
            ++done;
            continue;
        }
        workers.unwanted.push_back(std::move(*done));
        done = workers.finished.erase(done);
    }
}

bool Idle() {
    return workers.running.empty() && !workers.releasing && workers.unwanted.empty();
}

// Nothing runs, and nothing waits that could begin.
bool Done() {
    return Idle() && std::none_of(workers.waiting.begin(), workers.waiting.end(), MayStart);
}

void DropAll() {
    workers.asked.clear();
    DropUnasked();
}

// Waits for the condition, handing again meanwhile what the pool could not take.
template <class Condition>
void WaitUntil(Condition condition) {
    while (!condition()) {
        Dispatch();
        SleepConditionVariableSRW(&workers.changed, &workers.lock, 50, 0);
    }
}

}  // namespace

void StartWorkers(HWND window) {
    Locked locked;
    workers.window = window;
    Dispatch();
}

bool AskWorkers(std::vector<Ask> asks, const View& view, long long heldPixels,
                std::unique_ptr<Prepared> kept) {
    Locked locked;
    workers.asked = std::move(asks);
    workers.view = view;
    workers.windowHeld = heldPixels;
    if (kept) workers.finished.push_back(std::move(kept));
    DropUnasked();
    for (const Ask& ask : workers.asked) {
        if (ask.preview) AskOnce(ask, true);
        AskOnce(ask, false);
    }
    SortWaiting();
    return Dispatch();
}

std::unique_ptr<Prepared> TakeFinished(Ticket ticket, bool preview) {
    Locked locked;
    for (auto done = workers.finished.begin(); done != workers.finished.end(); ++done) {
        if ((*done)->ask.ticket != ticket || (*done)->shown.preview != preview) continue;
        std::unique_ptr<Prepared> taken = std::move(*done);
        workers.finished.erase(done);
        return taken;
    }
    return nullptr;
}

std::unique_ptr<Prepared> WaitForFinished(Ticket ticket) {
    Locked locked;
    std::unique_ptr<Prepared> taken;
    WaitUntil([&] {
        for (auto done = workers.finished.begin(); done != workers.finished.end(); ++done) {
            if ((*done)->ask.ticket != ticket) continue;
            const bool noPreview = (*done)->shown.preview && (*done)->result != LoadResult::kLoaded;
            // Without a preview to open on, the picture begins at once.
            if (Ask* const ask = noPreview ? Asked(ticket) : nullptr) {
                ask->preview = false;
                AskOnce(*ask, false);
            }
            (noPreview ? workers.unwanted.emplace_back() : taken) = std::move(*done);
            workers.finished.erase(done);
            return bool(taken);
        }
        return false;
    });
    return taken;
}

void ReleaseElsewhere(Picture picture) {
    if (!HasPicture(picture)) return;
    auto record = std::make_unique<Prepared>();
    record->shown.picture = std::move(picture);
    ReleaseElsewhere(std::move(record));
}

void ReleaseElsewhere(std::unique_ptr<Prepared> prepared) {
    if (!prepared) return;
    Locked locked;
    workers.unwanted.push_back(std::move(prepared));
    Dispatch();
}

bool EndAllWork() {
    Locked locked;
    workers.waiting.clear();
    DropAll();
    if (Decoding() > 0) return false;
    WaitUntil(Idle);
    return true;
}

void ReleaseAllWork() {
    Locked locked;
    workers.waiting.clear();
    DropAll();
    WaitUntil(Idle);
}

void WaitForWorkers() {
    Locked locked;
    WaitUntil(Done);
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
