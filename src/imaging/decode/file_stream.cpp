#include "imaging/decode/file_stream.h"

#include <climits>
#include <cstring>
#include <new>

#include "imaging/pixels/memory_limits.h"

namespace {

// Errors that a later try may not meet: the file in another program's hands, resources short.
bool IsPassing(DWORD error) {
    switch (error) {
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
        case ERROR_NO_SYSTEM_RESOURCES:
        case ERROR_TOO_MANY_OPEN_FILES:
        case ERROR_NOT_READY:
            return true;
    }
    return false;
}

// Up to size bytes at offset, fewer at the end of the file; false on a failed read.
bool ReadAt(HANDLE file, ULONGLONG offset, BYTE* to, ULONG size, ULONG& done) {
    done = 0;
    while (done < size) {
        OVERLAPPED at = {};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD read = 0;
        if (!ReadFile(file, to + done, size - done, &read, &at)) {
            return GetLastError() == ERROR_HANDLE_EOF;
        }
        if (read == 0) return true;
        done += read;
    }
    return true;
}

// The whole file into memory of its size, a piece at a time: one read takes less than 4 GB.
bool ReadWhole(HANDLE file, BYTE* to, ULONGLONG size) {
    constexpr ULONG kPiece = 1ul << 26;
    for (ULONGLONG offset = 0; offset < size; offset += kPiece) {
        const ULONG wanted = ULONG(std::min<ULONGLONG>(kPiece, size - offset));
        ULONG read = 0;
        if (!ReadAt(file, offset, to + offset, wanted, read) || read != wanted) return false;
    }
    return true;
}

}  // namespace

// The COM object that decoders read. Everything it serves lies within [0, size).
struct FileStream final : IStream {
    LONG references = 1;
    HANDLE file = INVALID_HANDLE_VALUE;
    ULONGLONG size = 0;
    ULONGLONG position = 0;
    const BYTE* bytes = nullptr;  // the whole file once kept, or the memory the stream reads
    BYTE* memory = nullptr;       // the whole file, kept by the stream
    bool readFailed = false;      // since the file was opened, until it is kept in memory
    // Until then the bytes last read from the file: decoders read a few bytes at a time.
    BYTE window[64 * 1024];
    ULONGLONG windowStart = 0;
    ULONG windowSize = 0;

    ~FileStream() {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (memory) VirtualFree(memory, 0, MEM_RELEASE);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (id != IID_IUnknown && id != IID_ISequentialStream && id != IID_IStream) {
            return E_NOINTERFACE;
        }
        *object = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        return InterlockedIncrement(&references);
    }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references);
        if (left == 0) delete this;
        return left;
    }

    // A failed read still reports the bytes it delivered before the failure, and moves past them.
    HRESULT STDMETHODCALLTYPE Read(void* to, ULONG count, ULONG* read) override {
        if (read) *read = 0;
        if (!to) return STG_E_INVALIDPOINTER;
        const ULONG wanted =
            position < size ? ULONG(std::min<ULONGLONG>(count, size - position)) : 0;
        ULONG done = 0;
        bool failed = false;
        while (done < wanted) {
            ULONG copied = 0;
            failed = !CopyAtPosition(static_cast<BYTE*>(to) + done, wanted - done, copied);
            if (copied == 0) break;  // failed, or the file is shorter than it was
            done += copied;
            position += copied;
        }
        if (read) *read = done;
        if (failed) return STG_E_READFAULT;
        return done == count ? S_OK : S_FALSE;
    }
    // Up to count bytes at the position, which lies within the file: from memory, or through the
    // window, which moves there if need be. False when the file could not be read there.
    bool CopyAtPosition(BYTE* to, ULONG count, ULONG& copied) {
        copied = 0;
        if (bytes) {
            std::memcpy(to, bytes + position, count);
            copied = count;
            return true;
        }
        if (position < windowStart || position >= windowStart + windowSize) {
            windowStart = position;
            if (!ReadAt(file, position, window, sizeof window, windowSize)) {
                windowSize = 0;
                readFailed = true;
                return false;
            }
        }
        copied = ULONG(std::min<ULONGLONG>(count, windowStart + windowSize - position));
        std::memcpy(to, window + (position - windowStart), copied);
        return true;
    }
    // Computed modulo 2^64: a position before the start wraps beyond the signed 64-bit range,
    // which is refused as any position beyond it is. Past the end is a place where reads find
    // nothing.
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* now) override {
        if (origin > STREAM_SEEK_END) return STG_E_INVALIDFUNCTION;
        ULONGLONG base = 0;
        if (origin == STREAM_SEEK_CUR) base = position;
        if (origin == STREAM_SEEK_END) base = size;
        const ULONGLONG target = base + ULONGLONG(move.QuadPart);
        if (target > ULONGLONG(LLONG_MAX)) return STG_E_INVALIDFUNCTION;
        position = target;
        if (now) now->QuadPart = position;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override {
        if (!stat) return STG_E_INVALIDPOINTER;
        *stat = {};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = size;
        stat->grfMode = STGM_READ | STGM_SHARE_DENY_NONE;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG* written) override {
        if (written) *written = 0;
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override {
        return STG_E_ACCESSDENIED;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*,
                                     ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Revert() override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override {
        if (copy) *copy = nullptr;
        return E_NOTIMPL;
    }
};

FileStream* OpenFileStream(const wchar_t* path, ReadResult& result) {
    const HANDLE file =
        CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        result = IsPassing(GetLastError()) ? ReadResult::kNotNow : ReadResult::kUnreadable;
        return nullptr;
    }
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        result = ReadResult::kNotNow;
        return nullptr;
    }
    auto* stream = new (std::nothrow) FileStream;
    if (!stream) {
        CloseHandle(file);
        result = ReadResult::kNotNow;
        return nullptr;
    }
    stream->file = file;
    stream->size = ULONGLONG(size.QuadPart);
    result = ReadResult::kRead;
    return stream;
}

FileStream* OpenMemoryStream(const BYTE* bytes, ULONGLONG size) {
    auto* stream = new (std::nothrow) FileStream;
    if (!stream) return nullptr;
    stream->bytes = bytes;
    stream->size = size;
    return stream;
}

IStream* AsStream(FileStream* stream) {
    return stream;
}

ReadResult KeepFileInMemory(FileStream* stream) {
    if (stream->bytes) return ReadResult::kRead;
    if (stream->size > LargestKeptFileBytes()) return ReadResult::kUnreadable;
    const SIZE_T size = SIZE_T(stream->size);
    BYTE* memory = static_cast<BYTE*>(
        VirtualAlloc(nullptr, std::max<SIZE_T>(size, 1), MEM_COMMIT, PAGE_READWRITE));
    if (!memory) return ReadResult::kNotNow;
    if (!ReadWhole(stream->file, memory, size)) {
        VirtualFree(memory, 0, MEM_RELEASE);
        return ReadResult::kNotNow;
    }
    stream->memory = memory;
    stream->bytes = memory;
    stream->readFailed = false;
    CloseHandle(stream->file);
    stream->file = INVALID_HANDLE_VALUE;
    return ReadResult::kRead;
}

bool ReadFailed(const FileStream* stream) {
    return stream->readFailed;
}
