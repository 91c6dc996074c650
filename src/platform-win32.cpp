// The Windows side of the command: the file opened by its name as typed,
// and the C library's 64-bit positioning. The mapped pass is in
// map-win32.cpp.
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
bool ensure_std_streams()
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

// Where the root of an absolute name ends: after "C:", or after the share
// of "\\server\share".
size_t root_end(const std::wstring &name)
{
    if (name.rfind(L"\\\\", 0) != 0)
        return 2;
    const size_t server = name.find(L'\\', 2);
    const size_t share = server == std::wstring::npos ? server : name.find(L'\\', server + 1);
    return share == std::wstring::npos ? name.size() : share;
}

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

// Where the part that ".." never climbs above ends in a name that follows
// the \\?\ or \\.\ prefix: after "UNC\server\share", or after the first
// part ("C:", a device such as "NUL" or "pipe").
size_t prefixed_root_end(const std::wstring &rest)
{
    size_t end = rest.find(L'\\');
    if (end != std::wstring::npos && _wcsnicmp(rest.c_str(), L"UNC\\", 4) == 0) {
        end = rest.find(L'\\', end + 1);
        end = end == std::wstring::npos ? end : rest.find(L'\\', end + 1);
    }
    return end == std::wstring::npos ? rest.size() : end;
}

// The name as typed, made absolute by hand in the \\?\ form, which Win32
// opens as it stands. Left to itself, Win32 rewrites every other form: it
// takes a device name with any extension (nul.txt) as the device, drops
// trailing dots and spaces (t.bin. opens t.bin) and an empty last part
// (t.bin\ opens t.bin): another file, or none. That holds for \\.\ names
// and for \\?\ written with a forward slash too, which are kept in the
// device namespace here but taken literally. "." and ".." are resolved
// here, as Win32 would. A device name on its own, and \\?\ as Win32 takes
// it, are kept. A name that ends in a separator or "." names a folder, and
// so does no file: that, or a folder the name is relative to that cannot
// be found, gives an empty string.
std::wstring build_literal_path(const wchar_t *typed)
{
    std::wstring name(typed);
    if (name.empty() || device_name(name) || name.rfind(L"\\\\?\\", 0) == 0)
        return name;
    std::replace(name.begin(), name.end(), L'/', L'\\');
    if (name.back() == L'\\' || name == L"." || (name.size() >= 2 && name.compare(name.size() - 2, 2, L"\\.") == 0))
        return L"";

    std::wstring root;
    std::wstring rest;
    if (name.rfind(L"\\\\?\\", 0) == 0 || name.rfind(L"\\\\.\\", 0) == 0) {
        rest = name.substr(4);
        const size_t end = prefixed_root_end(rest);
        root = rest.substr(0, end);
        rest.erase(0, end);
    } else {
        const bool unc = name.rfind(L"\\\\", 0) == 0;
        const bool drive = name.size() >= 2 && name[1] == L':';
        if (!unc && !(drive && name.size() >= 3 && name[2] == L'\\')) {
            // Relative: to the current folder, or to the current folder of
            // the drive it names (C:name); or to the root of either (\name).
            std::wstring base;
            if (drive) {
                const std::wstring letter = name.substr(0, 2);
                base = folder([&](DWORD n, wchar_t *buf) { return GetFullPathNameW(letter.c_str(), n, buf, nullptr); });
                name.erase(0, 2);
            } else {
                base = folder([](DWORD n, wchar_t *buf) { return GetCurrentDirectoryW(n, buf); });
            }
            if (base.empty())
                return L"";
            if (!name.empty() && name[0] == L'\\')
                name = base.substr(0, root_end(base)) + name;
            else
                name = base + L"\\" + name;
        }
        const size_t end = root_end(name);
        // What ".." never climbs above: "C:" or "UNC\server\share".
        root = name.rfind(L"\\\\", 0) == 0 ? L"UNC" + name.substr(1, end - 1) : name.substr(0, end);
        rest = name.substr(end);
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
        const std::wstring name = build_literal_path(argv[1]);
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
