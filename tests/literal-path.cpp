// The name a Windows build opens for the name typed (src/literal-path.cpp),
// as a table that every build runs: the name typed, the current folder, the
// current folder of the drive the name names, and the \\?\ name opened, or
// none (""). The suites under wine try what only Win32 can answer.
#include "literal-path.h"

#include <cstdio>
#include <string>

namespace {

struct Row {
    const wchar_t *typed;
    const wchar_t *cwd;
    const wchar_t *drive;
    const wchar_t *opened;
};

const Row rows[] = {
    // Relative to the current folder, each part as it stands: no device
    // rule, no trailing dots or spaces dropped, streams kept.
    {LR"(t.bin)", LR"(C:\w)", L"", LR"(\\?\C:\w\t.bin)"},
    {LR"(nul.txt)", LR"(C:\w)", L"", LR"(\\?\C:\w\nul.txt)"},
    {LR"(sub\com1.bin)", LR"(C:\w)", L"", LR"(\\?\C:\w\sub\com1.bin)"},
    {LR"(COM10)", LR"(C:\w)", L"", LR"(\\?\C:\w\COM10)"},
    {LR"(t.bin.)", LR"(C:\w)", L"", LR"(\\?\C:\w\t.bin.)"},
    {LR"(u.bin. )", LR"(C:\w)", L"", LR"(\\?\C:\w\u.bin. )"},
    {LR"(t.bin:s)", LR"(C:\w)", L"", LR"(\\?\C:\w\t.bin:s)"},
    {LR"(./sub/../v.bin)", LR"(C:\w)", L"", LR"(\\?\C:\w\v.bin)"},
    {LR"(\t.bin)", LR"(C:\w)", L"", LR"(\\?\C:\t.bin)"},
    {LR"(t.bin)", L"", L"", L""},
    // A folder is no file: a name that ends in a separator, ".", "..", or
    // at a drive's or a share's root.
    {LR"(t.bin\)", LR"(C:\w)", L"", L""},
    {LR"(t.bin/)", LR"(C:\w)", L"", L""},
    {LR"(.)", LR"(C:\w)", L"", L""},
    {LR"(sub\..)", LR"(C:\w)", L"", L""},
    {LR"(C:\)", LR"(C:\w)", L"", L""},
    {LR"(C:\w\..)", LR"(C:\w)", L"", L""},
    {LR"(D:)", LR"(C:\w)", LR"(D:\)", L""},
    {LR"(\\srv\share)", LR"(C:\w)", L"", L""},
    {LR"(\\.\C:\..)", LR"(C:\w)", L"", L""},
    // ".." never climbs above the root, of whichever kind.
    {LR"(..\..\t.bin)", LR"(C:\w)", L"", LR"(\\?\C:\t.bin)"},
    {LR"(\\srv\share\..\t.bin)", LR"(C:\w)", L"", LR"(\\?\UNC\srv\share\t.bin)"},
    {LR"(\\.\C:\..\t.bin)", LR"(C:\w)", L"", LR"(\\?\C:\t.bin)"},
    {LR"(//./UNC/srv/share/../t.bin)", LR"(C:\w)", L"", LR"(\\?\UNC\srv\share\t.bin)"},
    // A drive's own current folder.
    {LR"(D:t.bin)", LR"(C:\w)", LR"(D:\d)", LR"(\\?\D:\d\t.bin)"},
    {LR"(d:..\t.bin)", LR"(C:\w)", LR"(D:\d)", LR"(\\?\D:\t.bin)"},
    {LR"(D:t.bin)", LR"(C:\w)", L"", L""},
    // A current folder that is itself a \\?\ or UNC name.
    {LR"(t.bin.)", LR"(\\?\C:\long)", L"", LR"(\\?\C:\long\t.bin.)"},
    {LR"(\t.bin)", LR"(\\?\C:\long)", L"", LR"(\\?\C:\t.bin)"},
    {LR"(..\..\t.bin)", LR"(\\?\C:\long)", L"", LR"(\\?\C:\t.bin)"},
    {LR"(t.bin)", LR"(\\srv\share\d)", L"", LR"(\\?\UNC\srv\share\d\t.bin)"},
    {LR"(\t.bin)", LR"(\\srv\share\d)", L"", LR"(\\?\UNC\srv\share\t.bin)"},
    {LR"(..\..\t.bin)", LR"(\\srv\share\d)", L"", LR"(\\?\UNC\srv\share\t.bin)"},
    {LR"(\t.bin)", LR"(\\?\UNC\srv\share\d)", L"", LR"(\\?\UNC\srv\share\t.bin)"},
    // Spelled for Win32 to rewrite: still taken literally.
    {LR"(\\.\C:\w\t.bin.)", LR"(C:\w)", L"", LR"(\\?\C:\w\t.bin.)"},
    {LR"(//?/C:/w/t.bin.)", LR"(C:\w)", L"", LR"(\\?\C:\w\t.bin.)"},
    {LR"(\\?/C:\w\s.bin )", LR"(C:\w)", L"", LR"(\\?\C:\w\s.bin )"},
    {LR"(/\?\C:\w\u.bin. )", LR"(C:\w)", L"", LR"(\\?\C:\w\u.bin. )"},
    // Kept as typed: a \\?\ name, a device on its own (any case), a
    // device named in the device namespace.
    {LR"(\\?\C:\w\..\t.bin.)", LR"(C:\w)", L"", LR"(\\?\C:\w\..\t.bin.)"},
    {LR"(nul)", LR"(C:\w)", L"", LR"(nul)"},
    {LR"(CON)", LR"(C:\w)", L"", LR"(CON)"},
    {LR"(prn)", LR"(C:\w)", L"", LR"(prn)"},
    {LR"(Aux)", LR"(C:\w)", L"", LR"(Aux)"},
    {LR"(Com1)", LR"(C:\w)", L"", LR"(Com1)"},
    {LR"(lPt9)", LR"(C:\w)", L"", LR"(lPt9)"},
    {LR"(\\.\NUL)", LR"(C:\w)", L"", LR"(\\?\NUL)"},
    {LR"(\\.\PhysicalDrive1)", LR"(C:\w)", L"", LR"(\\?\PhysicalDrive1)"},
};

// A wide name as ASCII, for the report.
std::string shown(const std::wstring &w)
{
    std::string s;
    for (const wchar_t c : w)
        s += c > 0 && c < 0x7f ? static_cast<char>(c) : '?';
    return s;
}

} // namespace

int main()
{
    int passed = 0;
    int failed = 0;
    const auto check = [&](const std::wstring &typed, const std::wstring &cwd, const std::wstring &drive,
                           const std::wstring &want) {
        const std::wstring got = build_literal_path(typed, cwd, drive);
        if (got == want) {
            passed++;
            return;
        }
        failed++;
        std::printf("FAIL: '%s' in '%s' (drive '%s')\n  expected: '%s'\n  got:      '%s'\n", shown(typed).c_str(),
                    shown(cwd).c_str(), shown(drive).c_str(), shown(want).c_str(), shown(got).c_str());
    };
    for (const Row &r : rows)
        check(r.typed, r.cwd, r.drive, r.opened);
    // Past MAX_PATH (260 characters), and outside ASCII: no different.
    const std::wstring name = std::wstring(300, L'x') + L"\u65e5.bin";
    check(name, LR"(C:\w)", L"", LR"(\\?\C:\w\)" + name);
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
