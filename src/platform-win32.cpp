// The Windows side of the command: the file opened by its UTF-16 name, the
// C library's 64-bit positioning, and the mapped pass over views of a file
// mapping, with a fault in a view turned into a failed write.
#include "platform.h"

#include <algorithm>
#include <cstring>
#include <io.h>
#include <string>
#include <windows.h>
#include <shellapi.h>

// A Windows process started without standard handles still has C runtime
// descriptors 0, 1 and 2 reserved for them, so a file opened now never
// takes their place.
bool std_streams_open()
{
    return true;
}

namespace {

// A DOS device name on its own (NUL, CON, COM1, ...): a name that means the
// device on purpose, as Win32 takes it.
bool device_name(const std::wstring &name)
{
    static const wchar_t *const devices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
    for (const wchar_t *d : devices) {
        if (_wcsicmp(name.c_str(), d) == 0)
            return true;
    }
    return name.size() == 4 && (_wcsnicmp(name.c_str(), L"COM", 3) == 0 || _wcsnicmp(name.c_str(), L"LPT", 3) == 0) &&
           name[3] >= L'1' && name[3] <= L'9';
}

// The name as typed, made absolute by hand in the \\?\ form, which Win32
// opens as it stands. Left to itself, Win32 takes a device name with any
// extension (nul.txt) as the device, and drops trailing dots and spaces
// (t.bin. opens t.bin): another file, or none. "." and ".." are resolved
// here, as Win32 would. A name that is a device, or already in the \\?\ or
// \\.\ form, is kept. Returns an empty string when the folder the name is
// relative to cannot be found.
std::wstring literal(const wchar_t *typed)
{
    std::wstring name(typed);
    if (name.empty())
        return name;
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (name.rfind(L"\\\\?\\", 0) == 0 || name.rfind(L"\\\\.\\", 0) == 0 || device_name(name))
        return std::wstring(typed);

    std::wstring root; // what ".." never climbs above: "C:" or "UNC\server\share"
    std::wstring rest;
    if (name.rfind(L"\\\\", 0) == 0) {
        const size_t server = name.find(L'\\', 2);
        const size_t share = server == std::wstring::npos ? server : name.find(L'\\', server + 1);
        root = L"UNC\\" + name.substr(2, share == std::wstring::npos ? share : share - 2);
        rest = share == std::wstring::npos ? L"" : name.substr(share);
    } else {
        // The folder a relative name starts from: the current one, or the
        // current one on the drive it names (C:name).
        std::wstring base;
        if (name.size() >= 2 && name[1] == L':') {
            if (name.size() == 2 || name[2] != L'\\') {
                const std::wstring drive = name.substr(0, 2);
                const DWORD n = GetFullPathNameW(drive.c_str(), 0, nullptr, nullptr);
                base.resize(n);
                if (n == 0 || GetFullPathNameW(drive.c_str(), n, &base[0], nullptr) != n - 1)
                    return L"";
                base.resize(n - 1);
                name = base + L"\\" + name.substr(2);
            }
        } else {
            const DWORD n = GetCurrentDirectoryW(0, nullptr);
            base.resize(n);
            if (n == 0 || GetCurrentDirectoryW(n, &base[0]) != n - 1)
                return L"";
            base.resize(n - 1);
            if (name[0] == L'\\')
                name = base.substr(0, 2) + name; // the current drive's root
            else
                name = base + L"\\" + name;
        }
        root = name.substr(0, 2);
        rest = name.substr(2);
    }

    std::wstring path = L"\\\\?\\" + root;
    const size_t top = path.size();
    size_t at = 0;
    while (at <= rest.size()) {
        size_t next = rest.find(L'\\', at);
        if (next == std::wstring::npos)
            next = rest.size();
        const std::wstring part = rest.substr(at, next - at);
        if (part == L"..") {
            const size_t cut = path.rfind(L'\\');
            if (cut >= top)
                path.resize(cut);
        } else if (!part.empty() && part != L".") {
            path += L"\\" + part;
        }
        at = next + 1;
    }
    return path;
}

} // namespace

// main's arguments come converted to the ANSI code page, where Windows puts
// a look-alike in place of a character it cannot show (a fullwidth "a"
// becomes "a", a fullwidth backslash a real one) or a '?': by that name the
// file opened could be another one. The name is taken instead from the
// UTF-16 command line, as it was typed, and opened by the wide call. It must
// be the argument that path was made from: converted the same way, it gives
// path back. Should the two ever be split apart differently, no file is
// opened.
FILE *open_update(const char *path)
{
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr)
        return nullptr;
    FILE *fh = nullptr;
    if (argc == 2) {
        std::string ansi(std::strlen(path) + 1, '\0');
        const int n = WideCharToMultiByte(CP_ACP, 0, argv[1], -1, &ansi[0], static_cast<int>(ansi.size()),
                                          nullptr, nullptr);
        const std::wstring name = literal(argv[1]);
        if (n == static_cast<int>(ansi.size()) && ansi.compare(0, ansi.size() - 1, path) == 0 && !name.empty())
            fh = _wfopen(name.c_str(), L"r+b");
    }
    (void)LocalFree(argv);
    return fh;
}

int seek64(FILE *fh, int64_t off, int whence)
{
    return _fseeki64(fh, off, whence);
}

int64_t tell64(FILE *fh)
{
    return _ftelli64(fh);
}

// This pass runs only where a file cannot be mapped: a length query before
// each write is cheap enough.
Put put_byte(FILE *fh, int64_t pos, const char *src)
{
    const int64_t now = _filelengthi64(_fileno(fh));
    if (now < 0)
        return Put::seek_failed;
    if (pos >= now)
        return Put::past_end;
    if (_fseeki64(fh, pos, SEEK_SET) != 0)
        return Put::seek_failed;
    return fwrite(src, 1, 1, fh) == 1 ? Put::written : Put::write_failed;
}

#ifdef TOPWIPE_PORTABLE

Mapped map_pass(FILE *, int64_t, int64_t *)
{
    return Mapped::refused;
}

#else

// The context a fault resumes at is taken as setjmp takes its buffer: tell
// the compiler that the call returns twice.
// NOLINTNEXTLINE(readability-redundant-declaration)
extern "C" __declspec(dllimport) __attribute__((returns_twice)) void WINAPI RtlCaptureContext(PCONTEXT);

namespace {

// The file is mapped one view at a time, so memory stays bounded whatever
// its size. A view must start at a multiple of the allocation granularity
// (64 KiB), which this is.
constexpr int64_t window = int64_t{4} << 20;

// A store into a view that the file cannot back (the disk is full under a
// sparse file, the file was cut short from outside, a network share failed
// to read a page in) raises an exception: an in-page error, or, under wine,
// an access violation. A vectored handler takes the ones whose address lies
// in the current view and resumes the pass at the context captured before
// its stores, which then reports a failed write. Resuming at a context is
// what a vectored handler may do by its contract; jumping out of it would
// leave the system's dispatch of the exception unfinished.
CONTEXT landing;
volatile bool faulted;
unsigned char *volatile view_lo;
unsigned char *volatile view_hi;

LONG CALLBACK on_fault(EXCEPTION_POINTERS *ep)
{
    const EXCEPTION_RECORD *er = ep->ExceptionRecord;
    if ((er->ExceptionCode != EXCEPTION_IN_PAGE_ERROR && er->ExceptionCode != EXCEPTION_ACCESS_VIOLATION) ||
        er->NumberParameters < 2)
        return EXCEPTION_CONTINUE_SEARCH;
    auto *addr = reinterpret_cast<unsigned char *>(er->ExceptionInformation[1]);
    if (addr < view_lo || addr >= view_hi)
        return EXCEPTION_CONTINUE_SEARCH;
    faulted = true;
    *ep->ContextRecord = landing;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Clears the groups of the n bytes of the view at base, as zero_tops does;
// returns false if a store faulted.
[[gnu::noinline]] bool clear(unsigned char *base, int64_t n)
{
    faulted = false;
    RtlCaptureContext(&landing);
    if (faulted) {
        view_lo = view_hi = nullptr;
        return false;
    }
    view_lo = base;
    view_hi = base + n;
    zero_tops(base + first, base + n);
    view_lo = view_hi = nullptr;
    return true;
}

} // namespace

Mapped map_pass(FILE *fh, int64_t len, int64_t *pos)
{
    // Only files on a disk can be mapped (not pipes, not NUL or a console).
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fh)));
    if (file == INVALID_HANDLE_VALUE || GetFileType(file) != FILE_TYPE_DISK)
        return Mapped::refused;
    // A size of 0, 0 maps the file as it is: a larger one would extend it.
    HANDLE map = CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, 0, nullptr);
    if (map == nullptr)
        return Mapped::refused;
    PVOID handler = AddVectoredExceptionHandler(1, on_fault);
    if (handler == nullptr) {
        (void)CloseHandle(map);
        return Mapped::refused;
    }

    Mapped result = Mapped::done;
    for (int64_t off = *pos - first; off < len && result == Mapped::done; off += window) {
        const int64_t n = len - off < window ? len - off : window;
        void *view = MapViewOfFile(map, FILE_MAP_WRITE, static_cast<DWORD>(off >> 32),
                                   static_cast<DWORD>(off & 0xffffffff), static_cast<SIZE_T>(n));
        if (view == nullptr) {
            *pos = off + first;
            result = Mapped::refused;
            break;
        }
        // A file cut (from outside Windows) to a new end inside the view's
        // last page gives no fault: the stores past that end land in the
        // page, never in the file. Measured again, the file tells.
        LARGE_INTEGER size;
        if (!clear(static_cast<unsigned char *>(view), n) || GetFileSizeEx(file, &size) == 0 ||
            size.QuadPart < off + n / stride * stride)
            result = Mapped::fault;
        // The stores are in the file's cache already; failing to unmap, or
        // to remove the handler and close the mapping below, changes
        // nothing in the file.
        (void)UnmapViewOfFile(view);
    }

    (void)RemoveVectoredExceptionHandler(handler);
    (void)CloseHandle(map);
    return result;
}

#endif // TOPWIPE_PORTABLE
