#pragma once
// imaging/decode: files into pictures, through GDI+ or the system's codecs, on any thread.
#include "platform/platform.h"

// How far a file could be read: whole; not at all for good (gone, a folder, access refused, too
// large for this build to hold); or not for now (held by another program, locked, out of memory,
// an I/O error).
enum class ReadResult { kRead, kUnreadable, kNotNow };

// A read-only stream over a file that reads only the bytes asked for, never a byte outside the
// file: a read past the end gives fewer bytes or none, as a well-behaved stream does. The file
// is open, shared with every other program, until KeepFileInMemory closes it.
struct FileStream;

// Null, with the reason in result, when the file cannot be opened. Only the file makes a read
// fail: a decoder may not survive a read that fails under it.
FileStream* OpenFileStream(const wchar_t* path, ReadResult& result);
// The same over size bytes in memory that outlive it, such as a part of a file read already, as
// if they were a file kept in memory. Null when memory is short.
FileStream* OpenMemoryStream(const BYTE* bytes, ULONGLONG size);
IStream* AsStream(FileStream* stream);
// Reads the whole file into memory and closes it, so that other programs can rename, move or
// delete it while the stream lives. Reads before it went straight to the file, and a failure
// among them is forgotten.
ReadResult KeepFileInMemory(FileStream* stream);
// Whether any read from the file failed since it was opened: a decoder takes a failed read for a
// damaged file, so what it concluded then says nothing about the file.
bool ReadFailed(const FileStream* stream);
