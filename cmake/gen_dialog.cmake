# cmake -DIN=file.rc -DDIALOG=100 -DOUT=header -P gen_dialog.cmake
# Turns one dialog of a resource script into a C++ header with a constexpr table of its
# template: the header's size, caption and font, and every control in the script's order with
# its id, class, text, style and place in dialog units. The resource script stays the one
# source of the dialog; a window that is not built from the resource (the Qt window) builds its
# controls from this table.
#
# Only what the script can be seen to mean is taken: an unknown statement, style flag or id
# name, or a line that does not parse, stops the build at that line, because a dropped control
# would only show as a window that differs from the Windows one.

get_filename_component(rc_name "${IN}" NAME)
get_filename_component(rc_dir "${IN}" ABSOLUTE)
get_filename_component(rc_dir "${rc_dir}" DIRECTORY)

function(rc_error lineno text)
  message(FATAL_ERROR "${IN}:${lineno}: ${text}")
endfunction()

# The style flags the resource compiler takes from <windows.h> and <commctrl.h>, with their
# values there. A flag outside this list is refused rather than guessed.
set(flag_WS_POPUP 0x80000000)
set(flag_WS_CHILD 0x40000000)
set(flag_WS_VISIBLE 0x10000000)
set(flag_WS_DISABLED 0x08000000)
set(flag_WS_CAPTION 0x00C00000)
set(flag_WS_BORDER 0x00800000)
set(flag_WS_VSCROLL 0x00200000)
set(flag_WS_HSCROLL 0x00100000)
set(flag_WS_SYSMENU 0x00080000)
set(flag_WS_GROUP 0x00020000)
set(flag_WS_MINIMIZEBOX 0x00020000)
set(flag_WS_TABSTOP 0x00010000)
set(flag_WS_MAXIMIZEBOX 0x00010000)
set(flag_DS_SETFONT 0x40)
set(flag_DS_MODALFRAME 0x80)
set(flag_DS_FIXEDSYS 0x08)
set(flag_DS_SHELLFONT 0x48)
set(flag_DS_CENTER 0x0800)
set(flag_SS_LEFT 0x0)
set(flag_SS_CENTER 0x1)
set(flag_SS_RIGHT 0x2)
set(flag_SS_NOPREFIX 0x80)
set(flag_SS_SUNKEN 0x1000)
set(flag_BS_PUSHBUTTON 0x0)
set(flag_BS_GROUPBOX 0x7)
set(flag_CBS_SIMPLE 0x1)
set(flag_CBS_DROPDOWN 0x2)
set(flag_CBS_DROPDOWNLIST 0x3)
set(flag_CBS_AUTOHSCROLL 0x40)
set(flag_CBS_SORT 0x100)
set(flag_PBS_SMOOTH 0x1)
set(flag_PBS_VERTICAL 0x4)

# The statements a window can be built from: the kind of widget, the window class the resource
# compiler gives it and the type bits it adds to the flags of the line.
set(stmt_LTEXT "Text;Static;0x0")
set(stmt_CTEXT "Text;Static;0x1")
set(stmt_RTEXT "Text;Static;0x2")
set(stmt_PUSHBUTTON "PushButton;Button;0x0")
set(stmt_GROUPBOX "GroupBox;Button;0x7")
set(stmt_COMBOBOX "ComboBox;ComboBox;0x0")
# CONTROL names its class; these are the classes a window can be built from.
set(class_PROGRESS_CLASS "ProgressBar;msctls_progress32")
set(class_msctls_progress32 "ProgressBar;msctls_progress32")

# Ids may be names #defined in a header the script includes with quotes; names from the
# system's headers (IDOK) are not known and stop the build.
function(read_id_header lineno header)
  if(NOT EXISTS "${rc_dir}/${header}")
    rc_error(${lineno} "cannot read the included header ${header}")
  endif()
  file(STRINGS "${rc_dir}/${header}" defines REGEX "^[ \t]*#[ \t]*define[ \t]")
  foreach(define IN LISTS defines)
    if(define MATCHES "^[ \t]*#[ \t]*define[ \t]+([A-Za-z_][A-Za-z0-9_]*)[ \t]+\\(?(-?[0-9]+)\\)?[ \t]*(//.*)?$")
      set(id_${CMAKE_MATCH_1} ${CMAKE_MATCH_2} PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# Splits the arguments of a statement at the commas that lie outside quoted strings, with each
# string's quotes kept and its doubled quotes undone at output.
function(split_args lineno rest out)
  set(args "")
  set(more TRUE)
  while(more)
    if(rest MATCHES "^[ \t]*(\"(\"\"|[^\"])*\")[ \t]*(,?)(.*)$")
      set(arg "${CMAKE_MATCH_1}")
      set(comma "${CMAKE_MATCH_3}")
      set(tail "${CMAKE_MATCH_4}")
    elseif(rest MATCHES "^[ \t]*\"")
      rc_error(${lineno} "a text without its closing quote: ${rest}")
    elseif(rest MATCHES "^([^\",]*)(,?)(.*)$")
      string(STRIP "${CMAKE_MATCH_1}" arg)
      set(comma "${CMAKE_MATCH_2}")
      set(tail "${CMAKE_MATCH_3}")
    else()
      rc_error(${lineno} "cannot split the arguments at: ${rest}")
    endif()
    if(arg STREQUAL "")
      rc_error(${lineno} "empty argument")
    endif()
    string(REPLACE ";" "\\;" arg "${arg}")
    list(APPEND args "${arg}")
    set(rest "${tail}")
    if(comma STREQUAL "")
      string(STRIP "${rest}" rest)
      if(NOT rest STREQUAL "")
        rc_error(${lineno} "unexpected text after the arguments: ${rest}")
      endif()
      set(more FALSE)
    endif()
  endwhile()
  set(${out} "${args}" PARENT_SCOPE)
endfunction()

function(to_text lineno arg out)
  if(NOT arg MATCHES "^\"(.*)\"$")
    rc_error(${lineno} "expected a quoted text, found: ${arg}")
  endif()
  set(text "${CMAKE_MATCH_1}")
  string(REPLACE "\"\"" "\\\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

function(to_int lineno arg what out)
  if(NOT arg MATCHES "^-?[0-9]+$")
    rc_error(${lineno} "expected a number for ${what}, found: ${arg}")
  endif()
  set(${out} ${arg} PARENT_SCOPE)
endfunction()

function(to_id lineno arg out)
  if(arg MATCHES "^-?[0-9]+$")
    set(${out} ${arg} PARENT_SCOPE)
  elseif(DEFINED id_${arg})
    set(${out} ${id_${arg}} PARENT_SCOPE)
  else()
    rc_error(${lineno} "unknown control id ${arg}")
  endif()
endfunction()

# A style expression "A | B | 0x10" as a number. NOT is refused: it takes away from the
# compiler's default style, which this table does not hold.
function(to_style lineno arg out)
  string(REPLACE "|" ";" terms "${arg}")
  set(value 0)
  foreach(term IN LISTS terms)
    string(STRIP "${term}" term)
    if(term MATCHES "^(0x[0-9A-Fa-f]+|[0-9]+)$")
      set(bits ${term})
    elseif(DEFINED flag_${term})
      set(bits ${flag_${term}})
    else()
      rc_error(${lineno} "unknown style flag '${term}'")
    endif()
    math(EXPR value "${value} | ${bits}")
  endforeach()
  set(${out} ${value} PARENT_SCOPE)
endfunction()

function(hex value out)
  math(EXPR value "${value}" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} ${value} PARENT_SCOPE)
endfunction()

file(STRINGS "${IN}" lines ENCODING UTF-8)
set(state outside)
set(lineno 0)
set(pending "")
set(items "")
set(count 0)
foreach(raw IN LISTS lines)
  math(EXPR lineno "${lineno} + 1")
  # A comment to the end of the line, outside a quoted text.
  string(REGEX REPLACE "^((\"(\"\"|[^\"])*\"|[^\"/]|/[^/\"])*)//.*$" "\\1" line "${raw}")
  string(STRIP "${line}" line)
  # A statement broken after a comma or a | goes on in the next line.
  if(NOT pending STREQUAL "")
    string(APPEND pending " ${line}")
    set(line "${pending}")
  else()
    set(first ${lineno})
  endif()
  if(line MATCHES "[,|]$")
    set(pending "${line}")
    continue()
  endif()
  set(pending "")
  if(line STREQUAL "")
    continue()
  endif()

  if(state STREQUAL "outside")
    if(line MATCHES "^#[ \t]*include[ \t]+\"([^\"]+)\"$")
      read_id_header(${first} "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^${DIALOG}[ \t]+(DIALOG|DIALOGEX)[ \t]+(.*)$")
      set(dialog_statement ${CMAKE_MATCH_1})
      split_args(${first} "${CMAKE_MATCH_2}" args)
      list(LENGTH args n)
      # DIALOGEX may add a help id.
      if(NOT n EQUAL 4 AND NOT (dialog_statement STREQUAL "DIALOGEX" AND n EQUAL 5))
        rc_error(${first} "expected: ${DIALOG} ${dialog_statement} x, y, width, height")
      endif()
      foreach(i RANGE 3)
        list(GET args ${i} v)
        to_int(${first} "${v}" "the dialog's place" d${i})
      endforeach()
      set(dialog_line ${first})
      set(dialog_style 0)
      set(caption "\"\"")
      set(font_size 0)
      set(font_name "\"\"")
      set(font_weight 0)
      set(font_italic false)
      set(state header)
    endif()
  elseif(state STREQUAL "header")
    if(line MATCHES "^(BEGIN|{)$")
      set(state controls)
    elseif(line MATCHES "^STYLE[ \t]+(.*)$")
      to_style(${first} "${CMAKE_MATCH_1}" dialog_style)
    elseif(line MATCHES "^CAPTION[ \t]+(.*)$")
      to_text(${first} "${CMAKE_MATCH_1}" caption)
    elseif(line MATCHES "^FONT[ \t]+(.*)$")
      split_args(${first} "${CMAKE_MATCH_1}" args)
      list(LENGTH args n)
      if(n LESS 2)
        rc_error(${first} "expected: FONT size, \"face\"[, weight, italic, charset]")
      endif()
      list(GET args 0 v)
      to_int(${first} "${v}" "the font size" font_size)
      list(GET args 1 v)
      to_text(${first} "${v}" font_name)
      if(n GREATER 2)
        list(GET args 2 v)
        to_int(${first} "${v}" "the font weight" font_weight)
      endif()
      if(n GREATER 3)
        list(GET args 3 v)
        to_int(${first} "${v}" "the font's italic" font_italic)
      endif()
      if(font_italic)
        set(font_italic true)
      else()
        set(font_italic false)
      endif()
    else()
      rc_error(${first} "unknown statement in the header of dialog ${DIALOG}: ${line}")
    endif()
  elseif(state STREQUAL "controls")
    if(line MATCHES "^(END|})$")
      set(state done)
      break()
    endif()
    if(NOT line MATCHES "^([A-Z]+)[ \t]+(.*)$")
      rc_error(${first} "expected a control statement: ${line}")
    endif()
    set(statement ${CMAKE_MATCH_1})
    split_args(${first} "${CMAKE_MATCH_2}" args)
    list(LENGTH args n)
    set(text "\"\"")
    if(statement STREQUAL "CONTROL")
      # CONTROL "text", id, class, style, x, y, width, height[, exstyle]
      if(n LESS 8 OR n GREATER 9)
        rc_error(${first} "expected: CONTROL \"text\", id, class, style, x, y, width, height")
      endif()
      list(GET args 2 class)
      string(REGEX REPLACE "^\"(.*)\"$" "\\1" class "${class}")
      if(NOT DEFINED class_${class})
        rc_error(${first} "CONTROL of unknown class ${class}")
      endif()
      list(GET class_${class} 0 kind)
      list(GET class_${class} 1 class)
      list(GET args 0 v)
      to_text(${first} "${v}" text)
      list(GET args 3 v)
      to_style(${first} "${v}" style)
      set(place 4)
    elseif(DEFINED stmt_${statement})
      list(GET stmt_${statement} 0 kind)
      list(GET stmt_${statement} 1 class)
      list(GET stmt_${statement} 2 style)
      # COMBOBOX id, x, y, ...; the others "text", id, x, y, ...; then [style[, exstyle]]
      if(kind STREQUAL "ComboBox")
        list(PREPEND args "\"\"")
        math(EXPR n "${n} + 1")
      else()
        list(GET args 0 v)
        to_text(${first} "${v}" text)
      endif()
      if(n LESS 6 OR n GREATER 8)
        rc_error(${first} "expected: ${statement} [\"text\",] id, x, y, width, height[, style]")
      endif()
      if(n GREATER 6)
        list(GET args 6 v)
        to_style(${first} "${v}" given)
        math(EXPR style "${style} | ${given}")
      endif()
      set(place 2)
    else()
      rc_error(${first} "unknown control statement ${statement}")
    endif()
    list(GET args 1 v)
    to_id(${first} "${v}" id)
    set(rect "")
    foreach(i RANGE 3)
      math(EXPR at "${place} + ${i}")
      list(GET args ${at} v)
      to_int(${first} "${v}" "the control's place" v)
      string(APPEND rect ", ${v}")
    endforeach()
    hex(${style} style)
    string(APPEND items
      "    {DialogItemKind::${kind}, ${id}, \"${class}\", ${text}, ${style}${rect}, ${first}},\n")
    math(EXPR count "${count} + 1")
  endif()
endforeach()

if(NOT pending STREQUAL "")
  rc_error(${first} "the statement does not end")
endif()
if(state STREQUAL "outside")
  message(FATAL_ERROR "${IN}: no dialog ${DIALOG}")
elseif(NOT state STREQUAL "done")
  rc_error(${dialog_line} "dialog ${DIALOG} has no BEGIN ... END")
endif()
hex(${dialog_style} dialog_style)

set(content "// Generated from res/${rc_name} (dialog ${DIALOG}); edit that file.
#pragma once

#include <array>
#include <cstdint>

namespace zq::res {

#ifndef ZQ_RES_DIALOG_ITEM
#define ZQ_RES_DIALOG_ITEM
// The widget a statement of the resource script stands for.
enum class DialogItemKind { Text, PushButton, GroupBox, ComboBox, ProgressBar };

// One control as the resource compiler builds it. style holds the type bits of the statement
// (SS_RIGHT for RTEXT, BS_GROUPBOX, ...) and the flags its line names, not the defaults the
// compiler adds (WS_CHILD, WS_VISIBLE, a push button's WS_TABSTOP). The place is in dialog
// units; a combo box's height is that of its open list.
struct DialogItem {
    DialogItemKind kind;
    int id;
    const char* className;
    const char* text;
    std::uint32_t style;
    int x;
    int y;
    int width;
    int height;
    int line;  // in the resource script, for messages
};

struct DialogFont {
    int pointSize;
    const char* face;
    int weight;
    bool italic;
};
#endif

inline constexpr int kDialog${DIALOG}Width = ${d2};
inline constexpr int kDialog${DIALOG}Height = ${d3};
inline constexpr std::uint32_t kDialog${DIALOG}Style = ${dialog_style};
inline constexpr const char* kDialog${DIALOG}Caption = ${caption};
inline constexpr DialogFont kDialog${DIALOG}Font{${font_size}, ${font_name}, ${font_weight}, ${font_italic}};

// In the script's order, which is the order of Tab and of the z-order.
inline constexpr std::array<DialogItem, ${count}> kDialog${DIALOG}Items{{
${items}}};

}  // namespace zq::res
")

file(WRITE "${OUT}.tmp" "${content}")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
