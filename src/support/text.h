#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace zq {

// printf-style formatting into a string. The formats come from the string table, so they are
// not literals; callers pass the arguments that the table's text names.
std::string formatText(const char* format, ...);
std::string vformatText(const char* format, std::va_list args);

// Texts are UTF-8 inside the program; wide strings appear only at the operating system's edge
// (UTF-16 on Windows, UTF-32 on POSIX). Invalid sequences become U+FFFD.
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);

bool isValidUtf8(std::string_view text);

// Appends one code point in UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);

// Identifiers, keys and unit names are ASCII: ASCII case folding decides every comparison
// that can match.
bool equalsIgnoringCase(std::string_view a, std::string_view b);

// The first maxChars characters (code points) of a UTF-8 text.
std::string utf8Prefix(std::string_view text, std::size_t maxChars);

}  // namespace zq
