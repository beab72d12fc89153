#pragma once
// imaging/pixels: the pixels the program owns, scaled and composed for the view.

// How much of a picture this build may hold. A 32-bit process has at most 4 GB of address space,
// whatever the machine; a 64-bit one has the machine's physical memory, and never holds less than
// a 32-bit one.

// The largest file kept whole in memory. A larger one is read only as far as a decoder asks.
unsigned long long LargestKeptFileBytes();
// A picture of more pixels is refused as soon as its size is known: its decoded pixels could
// not fit.
long long LargestPicturePixels();
// Decoded pixels that the picture on show and the one read ahead may hold together.
long long ReadAheadBudgetPixels();
// The pixels of the largest picture that the budget leaves room for beside heldPixels: its
// reductions hold a third as many again.
long long RoomBeside(long long heldPixels);
