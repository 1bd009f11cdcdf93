# Warnings for project code only; third-party code (GoogleTest, CLI11) builds with its own.
function(zq_project_warnings target)
  if(MSVC)
    target_compile_options(${target} PRIVATE /W4 $<$<BOOL:${ZQ_WERROR}>:/WX>)
  else()
    target_compile_options(${target} PRIVATE
      -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
      -Wimplicit-fallthrough -Wformat=2 -Wno-format-nonliteral
      $<$<BOOL:${ZQ_WERROR}>:-Werror>)
  endif()
endfunction()

# zq_add_library(name SOURCES ... [POSIX ...] [WIN32 ...] [DEPS ...])
# One static library per source folder; platform files are picked here, never by #ifdef.
function(zq_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;POSIX;WIN32;DEPS" ${ARGN})
  set(sources ${ARG_SOURCES})
  if(WIN32)
    list(APPEND sources ${ARG_WIN32})
  else()
    list(APPEND sources ${ARG_POSIX})
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  zq_project_warnings(${name})
endfunction()

# zq_add_gtest(name SOURCES ... DEPS ... [LABELS ...])
# On Linux every test case becomes a ctest test; under Wine one ctest test per program,
# because discovering cases would start Wine once more per program at build time.
function(zq_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} zq_testing)
  zq_project_warnings(${name})
  if(CMAKE_CROSSCOMPILING AND WIN32)
    target_link_options(${name} PRIVATE -static)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS "${ARG_LABELS}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 120 LABELS "${ARG_LABELS}")
  endif()
  # Programs labelled "threads" also build as one target, so the ThreadSanitizer run of the
  # test command builds only them: cmake --build --preset tsan --target zq_thread_tests
  if("threads" IN_LIST ARG_LABELS)
    if(NOT TARGET zq_thread_tests)
      add_custom_target(zq_thread_tests)
    endif()
    add_dependencies(zq_thread_tests ${name})
  endif()
endfunction()
