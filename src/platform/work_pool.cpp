#include "platform/work_pool.h"

#include <algorithm>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace {

// One RunInParallel call. The record lives on the heap, held by the caller and by every callback
// submitted for it, and the last to let go frees it. The caller returns only once every part is
// done, so a callback that starts later finds no part left to claim: it touches the record and
// never `work`, which lives on the caller's stack.
struct Job {
    const std::function<void(int)>* work = nullptr;
    LONG count = 0;
    volatile LONG next = 0;        // the next part to claim
    volatile LONG unfinished = 0;  // parts not yet done
    volatile LONG holders = 0;
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE finished = CONDITION_VARIABLE_INIT;
};

void LetGo(Job* job) {
    if (InterlockedDecrement(&job->holders) == 0) delete job;
}

LONG ReadShared(volatile LONG& value) {
    return InterlockedCompareExchange(&value, 0, 0);
}

// Claims parts and runs them until none is left to claim.
void RunParts(Job& job) {
    for (LONG part = InterlockedIncrement(&job.next) - 1; part < job.count;
         part = InterlockedIncrement(&job.next) - 1) {
        (*job.work)(int(part));
        if (InterlockedDecrement(&job.unfinished) > 0) continue;
        AcquireSRWLockExclusive(&job.lock);
        WakeAllConditionVariable(&job.finished);
        ReleaseSRWLockExclusive(&job.lock);
    }
}

// Every part is claimed by now: this waits only for those that helpers are running.
void WaitForClaimedParts(Job& job) {
    AcquireSRWLockExclusive(&job.lock);
    while (ReadShared(job.unfinished) > 0)
        SleepConditionVariableSRW(&job.finished, &job.lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&job.lock);
}

// The system enters its callbacks with only 4-byte stack alignment on 32-bit Windows, which the
// scaler's SSE2 code must not trust.
__attribute__((force_align_arg_pointer)) VOID CALLBACK HelpWithParts(PTP_CALLBACK_INSTANCE,
                                                                     PVOID context) {
    Job* const job = static_cast<Job*>(context);
    RunParts(*job);
    LetGo(job);
}

struct Submitted {
    void (*job)(void* context);
    void* context;
};

__attribute__((force_align_arg_pointer)) VOID CALLBACK RunSubmitted(PTP_CALLBACK_INSTANCE instance,
                                                                    PVOID context) {
    // A decode holds its thread for long: the pool may add another for the scaler's bands.
    CallbackMayRunLong(instance);
    const std::unique_ptr<Submitted> submitted(static_cast<Submitted*>(context));
    submitted->job(submitted->context);
}

}  // namespace

int CountProcessors() {
    static const int count = [] {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        return std::max(1, int(system.dwNumberOfProcessors));
    }();
    return count;
}

void RunInParallel(int count, const std::function<void(int part)>& work) {
    const int helpers = std::min(count, CountProcessors()) - 1;
    Job* const job = helpers > 0 ? new (std::nothrow) Job : nullptr;
    if (!job) {
        for (int part = 0; part < count; ++part) work(part);
        return;
    }
    job->work = &work;
    job->count = count;
    job->unfinished = count;
    job->holders = 1 + helpers;
    for (int i = 0; i < helpers; ++i) {
        if (!TrySubmitThreadpoolCallback(HelpWithParts, job, nullptr)) LetGo(job);
    }
    RunParts(*job);
    WaitForClaimedParts(*job);
    LetGo(job);
}

bool SubmitWork(void (*job)(void* context), void* context) {
    auto* const submitted = new (std::nothrow) Submitted{job, context};
    if (!submitted) return false;
    if (TrySubmitThreadpoolCallback(RunSubmitted, submitted, nullptr)) return true;
    delete submitted;
    return false;
}
