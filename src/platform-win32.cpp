// The Windows side of the command: the file opened by its name as typed,
// and the C library's 64-bit positioning. The mapped pass is in
// map-win32.cpp.
#include "platform.h"
#include "literal-path.h"

#include <cstring>
#include <io.h>
#include <string>
#include <windows.h>
#include <shellapi.h>
#include <winioctl.h>

// A Windows process started without standard handles still has C runtime
// descriptors 0, 1 and 2 reserved for them, so a file opened now never
// takes their place.
bool ensure_std_streams()
{
    return true;
}

namespace {

// The folder named by a call that fills a buffer of the size it asks for,
// or an empty string.
template <typename Call> std::wstring folder(Call call)
{
    const DWORD n = call(0, nullptr);
    std::wstring base(n, L'\0');
    if (n == 0 || call(n, &base[0]) != n - 1)
        return L"";
    base.resize(n - 1);
    return base;
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
        // The name made absolute by hand, as Win32 would: from the current
        // folder, or from the current folder of the drive it names (D:t.bin).
        const std::wstring typed(argv[1]);
        const std::wstring cwd = folder([](DWORD k, wchar_t *buf) { return GetCurrentDirectoryW(k, buf); });
        std::wstring drive;
        if (typed.size() >= 2 && typed[1] == L':') {
            const std::wstring letter = typed.substr(0, 2);
            drive = folder([&](DWORD k, wchar_t *buf) { return GetFullPathNameW(letter.c_str(), k, buf, nullptr); });
        }
        const std::wstring name = build_literal_path(typed, cwd, drive);
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

// Only a file with the sparse attribute has holes. The system lists the
// ranges of [off, end) that may hold data, as many as the buffer takes
// (ERROR_MORE_DATA: there are more, asked for once the pass reaches them).
// Where it cannot answer (a filesystem without holes, an older system),
// the whole stretch counts as data.
Span data_from(FILE *fh, int64_t off, int64_t end)
{
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fh)));
    BY_HANDLE_FILE_INFORMATION info;
    if (file == INVALID_HANDLE_VALUE || GetFileInformationByHandle(file, &info) == 0 ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_SPARSE_FILE) == 0)
        return {off, end};
    FILE_ALLOCATED_RANGE_BUFFER ask{};
    ask.FileOffset.QuadPart = off;
    ask.Length.QuadPart = end - off;
    FILE_ALLOCATED_RANGE_BUFFER listed[64];
    DWORD bytes = 0;
    if (DeviceIoControl(file, FSCTL_QUERY_ALLOCATED_RANGES, &ask, sizeof ask, listed, sizeof listed, &bytes,
                        nullptr) == 0 &&
        GetLastError() != ERROR_MORE_DATA)
        return {off, end};
    Span found[64];
    size_t n = 0;
    for (; n < bytes / sizeof listed[0] && n < 64; n++)
        found[n] = {listed[n].FileOffset.QuadPart, listed[n].FileOffset.QuadPart + listed[n].Length.QuadPart};
    // Measured after the query, so that a file cut short before it is
    // found short.
    LARGE_INTEGER size;
    if (GetFileSizeEx(file, &size) == 0)
        return {off, end};
    return next_data(found, n, off, end, size.QuadPart);
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
