#pragma once

#include <string>
#include <string_view>

namespace zq {

// 8-bit text from files and servers made on Windows, turned into the program's UTF-8.
// Windows: through the system's ANSI code page, as every program there reads it.
// POSIX has no ANSI code page: text that is valid UTF-8 is taken as it is, anything else as
// Windows-1250, the code page of the Czech Windows machines on which such files are written.
std::string ansiToUtf8(std::string_view bytes);

// Windows-1250 to UTF-8. The five bytes that the code page leaves undefined become the C1
// control characters of the same value, as Windows' own conversion does.
std::string windows1250ToUtf8(std::string_view bytes);

}  // namespace zq
