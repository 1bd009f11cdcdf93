#include "support/string_table.h"

#include <cstdarg>
#include <iterator>

#include "support/text.h"

namespace zq {

namespace {

struct StringEntry {
    unsigned id;
    const char* text;
};

constexpr StringEntry kStrings[] =
#include "string_table_data.inc"
    ;

}  // namespace

const char* loadString(unsigned id) {
    for (const StringEntry& entry : kStrings)
        if (entry.id == id) return entry.text;
    return "";
}

std::string formatString(unsigned id, ...) {
    std::va_list args;
    va_start(args, id);
    std::string text = vformatText(loadString(id), args);
    va_end(args);
    return text;
}

}  // namespace zq
