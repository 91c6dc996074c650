// How a name typed on Windows becomes the name the file is opened by
// (platform-win32.cpp). It asks nothing of the system, so that it is
// compiled, and tested, on every platform.
#ifndef TOPWIPE_LITERAL_PATH_H
#define TOPWIPE_LITERAL_PATH_H

#include <string>

// The name as typed, made absolute by hand in the \\?\ form, which Win32
// opens as it stands. cwd is the current folder; drive is the current
// folder of the drive a name such as "D:t.bin" names (unused otherwise).
// Either is empty where the system gave none. Returns an empty string
// where the name names no file.
[[nodiscard]] std::wstring build_literal_path(const std::wstring &typed, const std::wstring &cwd,
                                              const std::wstring &drive);

#endif
