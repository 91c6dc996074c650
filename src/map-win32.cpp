// The mapped pass on Windows: views of a file mapping, with a fault in a
// view turned into a failed write.
#include "platform.h"
#include "stores.h"
#include "window-loop.h"

#include <io.h>
#include <windows.h>

// The context a fault resumes at is taken as setjmp takes its buffer: tell
// the compiler that the call returns twice.
// NOLINTNEXTLINE(readability-redundant-declaration)
extern "C" __declspec(dllimport) __attribute__((returns_twice)) void WINAPI RtlCaptureContext(PCONTEXT);

namespace {

// A view must start at a multiple of the allocation granularity (64 KiB),
// which this is.
constexpr int64_t window = int64_t{4} << 20;

// A store into a view that the file cannot back (the disk is full under a
// sparse file, the file was cut short from outside, a network share failed
// to read a page in) raises an exception: an in-page error, or, under wine,
// an access violation, and on ARM64 a misalignment with no address. A
// vectored handler takes the ones whose address lies in the current view,
// or, for the misalignment, that come while its stores run (they are of
// single bytes or aligned, so none is misaligned), and resumes the pass at
// the context captured before its stores, which then reports a failed
// write. Resuming at a context is what a vectored handler may do by its
// contract; jumping out of it would leave the system's dispatch of the
// exception unfinished.
CONTEXT landing;
volatile bool faulted;
unsigned char *volatile view_lo;
unsigned char *volatile view_hi;

LONG CALLBACK on_fault(EXCEPTION_POINTERS *ep)
{
    const EXCEPTION_RECORD *er = ep->ExceptionRecord;
    if (view_hi == nullptr)
        return EXCEPTION_CONTINUE_SEARCH;
    if (er->ExceptionCode == EXCEPTION_IN_PAGE_ERROR || er->ExceptionCode == EXCEPTION_ACCESS_VIOLATION) {
        if (er->NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        auto *addr = reinterpret_cast<unsigned char *>(er->ExceptionInformation[1]);
        if (addr < view_lo || addr >= view_hi)
            return EXCEPTION_CONTINUE_SEARCH;
    } else if (er->ExceptionCode != EXCEPTION_DATATYPE_MISALIGNMENT) {
        return EXCEPTION_CONTINUE_SEARCH;
    }
    faulted = true;
    *ep->ContextRecord = landing;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Clears the groups whose top byte lies in [lo, hi) of the n bytes of the
// view at base, as zero_tops does; returns false if a store faulted.
[[gnu::noinline]] bool clear_view(unsigned char *base, int64_t n, int64_t lo, int64_t hi)
{
    faulted = false;
    view_lo = base;
    view_hi = base + n;
    RtlCaptureContext(&landing);
    if (!faulted)
        zero_tops(base + top_from(lo), base + hi);
    view_lo = view_hi = nullptr;
    return !faulted;
}

// The window loop's steps: a view of the file mapping for each window.
struct Win32 {
    HANDLE file;
    HANDLE mapping;

    unsigned char *map(int64_t off, int64_t n) const
    {
        return static_cast<unsigned char *>(MapViewOfFile(mapping, FILE_MAP_WRITE, static_cast<DWORD>(off >> 32),
                                                          static_cast<DWORD>(off & 0xffffffff),
                                                          static_cast<SIZE_T>(n)));
    }

    static bool clear(unsigned char *base, int64_t n, int64_t lo, int64_t hi) { return clear_view(base, n, lo, hi); }

    bool holds(int64_t end) const
    {
        LARGE_INTEGER size;
        return GetFileSizeEx(file, &size) != 0 && size.QuadPart >= end;
    }

    // The stores are in the file's cache already: failing to unmap changes
    // nothing in the file.
    static void unmap(unsigned char *base, int64_t) { (void)UnmapViewOfFile(base); }
};

} // namespace

Mapped map_pass(FILE *fh, int64_t len, int64_t *pos)
{
    // Only files on a disk can be mapped (not pipes, not NUL or a console).
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fh)));
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK)
        return Mapped::refused;
    // A size of 0, 0 maps the file as it is: a larger one would extend it.
    HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (mapping == nullptr)
        return Mapped::refused;
    PVOID handler = AddVectoredExceptionHandler(1, on_fault);
    if (handler == nullptr) {
        (void)CloseHandle(mapping);
        return Mapped::refused;
    }

    Win32 win32{file, mapping};
    const Mapped result = clear_windows(win32, fh, len, window, pos);

    // Failing to remove the handler or to close the mapping changes
    // nothing in the file.
    (void)RemoveVectoredExceptionHandler(handler);
    (void)CloseHandle(mapping);
    return result;
}
