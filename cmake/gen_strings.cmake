# cmake -DIN=strings.txt -DOUT=file [-DIDS=header] -DFORMAT=cpp|rc -P gen_strings.cmake
# Turns the string-table source into a C++ table (and, with IDS, the header of its enum
# StringId) or a Windows STRINGTABLE.
file(STRINGS "${IN}" lines ENCODING UTF-8)
set(body "")
set(ids "")
set(lineno 0)
foreach(line IN LISTS lines)
  math(EXPR lineno "${lineno} + 1")
  if(line MATCHES "^[ \t]*(#.*)?$")
    continue()
  endif()
  if(NOT line MATCHES "^([0-9]+)[ \t]+(kStr[A-Za-z0-9_]+)[ \t]+\"(.*)\"[ \t]*$")
    message(FATAL_ERROR "${IN}:${lineno}: expected: <id> kStr<Name> \"text\"")
  endif()
  set(id "${CMAKE_MATCH_1}")
  set(name "${CMAKE_MATCH_2}")
  set(text "${CMAKE_MATCH_3}")
  if(FORMAT STREQUAL "cpp")
    string(REPLACE "\\" "\\\\" text "${text}")
    string(REPLACE "\"\"" "\\\"" text "${text}")
    string(APPEND body "    {${id}, \"${text}\"},\n")
    string(APPEND ids "    ${name} = ${id},\n")
  else()
    string(APPEND body "    ${id}, \"${text}\"\n")
  endif()
endforeach()

function(write_if_changed path content)
  file(WRITE "${path}.tmp" "${content}")
  file(COPY_FILE "${path}.tmp" "${path}" ONLY_IF_DIFFERENT)
  file(REMOVE "${path}.tmp")
endfunction()

if(FORMAT STREQUAL "cpp")
  write_if_changed("${OUT}" "// Generated from res/strings.txt; edit that file.\n{\n${body}}\n")
  if(IDS)
    write_if_changed("${IDS}" "// Generated from res/strings.txt; edit that file.
#pragma once

namespace zq {

// The operator's texts by name; the values are the ids of the Windows STRINGTABLE.
enum StringId : unsigned {
${ids}};

}  // namespace zq
")
  endif()
else()
  write_if_changed("${OUT}"
    "// Generated from res/strings.txt; edit that file.\n#pragma code_page(65001)\nSTRINGTABLE\nBEGIN\n${body}END\n")
endif()
