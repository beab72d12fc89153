#pragma once
#include <functional>

// One pool of workers for the whole program, the system's own: it decodes pictures and renders
// the scaler's bands. Its threads are lent by the system and serve other users of the pool too,
// so a job leaves its thread as it found it (in COM or out, nothing of its own in thread-locals).

// The processors that the pool's work spreads over.
int CountProcessors();

// Runs work(part) for every part in [0, count) and returns once all are done. The calling thread
// takes parts too, and the pool's threads help as they come free: when they are all busy with
// long decodes, the caller does every part itself and never waits for a helper that has not
// begun.
void RunInParallel(int count, const std::function<void(int part)>& work);

// Runs job(context) on a pool thread, where it may take long (a decode): the pool adds a thread
// meanwhile rather than leave other work waiting. False when the system could not take the job;
// it will then never run.
bool SubmitWork(void (*job)(void* context), void* context);
