// The name Windows is to open, built from the name as typed: see
// literal-path.h.
#include "literal-path.h"

#include <algorithm>
#include <cstddef>

namespace {

// Whether name has word at offset at, in any case (word is upper-case
// ASCII, as device names and "UNC" are).
bool has_word(const std::wstring &name, size_t at, const std::wstring &word)
{
    if (at > name.size() || name.size() - at < word.size())
        return false;
    for (size_t i = 0; i < word.size(); i++) {
        wchar_t c = name[at + i];
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
        if (c != word[i])
            return false;
    }
    return true;
}

// A DOS device name on its own (NUL, CON, COM1, ...): a name that means the
// device on purpose, as Win32 takes it.
bool device_name(const std::wstring &name)
{
    if (name.size() == 3)
        return has_word(name, 0, L"CON") || has_word(name, 0, L"PRN") || has_word(name, 0, L"AUX") ||
               has_word(name, 0, L"NUL");
    return name.size() == 4 && (has_word(name, 0, L"COM") || has_word(name, 0, L"LPT")) && name[3] >= L'1' &&
           name[3] <= L'9';
}

// A name in the device namespace: \\?\ or \\.\ and what follows.
bool prefixed(const std::wstring &name)
{
    return name.rfind(L"\\\\?\\", 0) == 0 || name.rfind(L"\\\\.\\", 0) == 0;
}

// Where the root of an absolute name ends, the part that ".." never climbs
// above: "C:"; "\\server\share"; or, after \\?\ or \\.\, "UNC\server\share"
// or the first part ("C:", a device such as "NUL" or "pipe").
size_t root_end(const std::wstring &name)
{
    size_t end = 1; // the separator before the first part of the root
    size_t parts = 2;
    if (prefixed(name)) {
        end = 3;
        parts = has_word(name, 4, L"UNC\\") ? 3 : 1;
    } else if (name.rfind(L"\\\\", 0) != 0) {
        return 2;
    }
    for (size_t k = 0; k < parts && end != std::wstring::npos; k++)
        end = name.find(L'\\', end + 1);
    return end == std::wstring::npos ? name.size() : end;
}

} // namespace

// Left to itself, Win32 rewrites every name but a \\?\ one: it takes a
// device name with any extension (nul.txt) as the device, drops trailing
// dots and spaces (t.bin. opens t.bin) and a separator at the end (t.bin/
// opens t.bin): another file, or none. That holds for \\.\ names and for
// \\?\ written with a forward slash too, which are kept in the device
// namespace here but taken literally. "." and ".." are resolved here, as
// Win32 would. A device name on its own, and \\?\ as Win32 takes it, are
// kept. A name whose last part is empty, "." or "..", or that is the root
// of a drive or share, names a folder, and so does no file: that, or a
// folder the name is relative to that the system did not give, gives an
// empty string.
std::wstring build_literal_path(const std::wstring &typed, const std::wstring &cwd, const std::wstring &drive)
{
    if (typed.empty() || device_name(typed) || typed.rfind(L"\\\\?\\", 0) == 0)
        return typed;
    std::wstring name(typed);
    std::replace(name.begin(), name.end(), L'/', L'\\');
    const bool device_space = prefixed(name);
    const bool has_drive = name.size() >= 2 && name[1] == L':';
    if (!device_space && name.rfind(L"\\\\", 0) != 0 && !(has_drive && name.size() >= 3 && name[2] == L'\\')) {
        // Relative: to the current folder, or to the current folder of
        // the drive it names (D:t.bin); or to the root of either (\t.bin).
        const std::wstring &base = has_drive ? drive : cwd;
        if (has_drive)
            name.erase(0, 2);
        if (base.empty())
            return L"";
        if (!name.empty() && name[0] == L'\\')
            name = base.substr(0, root_end(base)) + name;
        else
            name = base + L"\\" + name;
    }
    const std::wstring last = name.substr(name.rfind(L'\\') + 1);
    if (last.empty() || last == L"." || last == L"..")
        return L"";

    const size_t end = root_end(name);
    std::wstring path = L"\\\\?\\";
    if (prefixed(name))
        path += name.substr(4, end - 4);
    else if (name.rfind(L"\\\\", 0) == 0)
        path += L"UNC" + name.substr(1, end - 1);
    else
        path += name.substr(0, end);
    const size_t top = path.size();
    const std::wstring rest = name.substr(end);
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
    // The root of a drive or a share is a folder; one named in the device
    // namespace (\\.\C:) is the device, named on purpose.
    if (path.size() == top && !device_space)
        return L"";
    return path;
}
