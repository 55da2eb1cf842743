# The tests of the Windows build, run under Wine (see the toolchain file):
# GoogleTest built from Debian's sources, the test files that make sense on
# Windows, one CTest entry per test program (each Wine start costs time), and
# a fixture that prepares the build's own Wine prefix once before them.
set(TVQ_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources to build for Windows")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${TVQ_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

set(TVQ_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
# Wine names Linux files in the locale's character set: UTF-8, or non-ASCII names fail.
set(TVQ_WINE_ENV "WINEPREFIX=${TVQ_WINEPREFIX};WINEDEBUG=-all;DISPLAY=;LANG=C.UTF-8;LC_ALL=")

# cpp-httplib as one header supports winsock: the in-process test server is
# built from the copy scripts/bootstrap takes from Debian's source package,
# reached through a directory that holds only that header.
set(TVQ_HTTPLIB_HEADER /usr/src/cpp-httplib/httplib.h CACHE FILEPATH "cpp-httplib's single header (scripts/bootstrap)")
set(TVQ_HTTPLIB_INCLUDE ${CMAKE_BINARY_DIR}/httplib-include)
configure_file(${TVQ_HTTPLIB_HEADER} ${TVQ_HTTPLIB_INCLUDE}/httplib.h COPYONLY)

# The shared test helpers that need no Linux-only part.
add_library(tvqtestsupport STATIC ${CMAKE_CURRENT_SOURCE_DIR}/support/empty.cc
            ${CMAKE_CURRENT_SOURCE_DIR}/support/recording_user_interface.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/support/http_test_server.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/support/silent_port.cpp)
target_include_directories(tvqtestsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/src)
target_include_directories(tvqtestsupport SYSTEM PUBLIC ${TVQ_HTTPLIB_INCLUDE})
target_link_libraries(tvqtestsupport PUBLIC tvqpublishing gmock gtest ws2_32)
target_compile_definitions(tvqtestsupport PUBLIC
  TVQ_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  TVQ_BINARY_DIR="${CMAKE_BINARY_DIR}")

# Test files that run on Windows; the rest need a Linux-only part (fork,
# flock, mount namespaces, shell scripts as programs) or pin Linux behaviour (paths with '/', permission bits, the
# updater named tvqlupd, the language from LANG). The Windows behaviour of
# those parts is covered by win32/ and by the end-to-end runs under Wine.
set(TVQ_WINDOWS_TESTS
  unit/command_line_options_test.cpp
  unit/config_test.cpp
  unit/console_display_test.cpp
  unit/contexts_test.cpp
  unit/display_test.cpp
  unit/file_entries_test.cpp
  unit/nuldev_test.cpp
  unit/platform_test.cpp
  unit/site_list_test.cpp
  unit/site_record_test.cpp
  unit/rollout_test.cpp
  unit/ui_hooks_test.cpp
  unit/update_list_test.cpp
  unit/minisign_test.cpp
  unit/signature_test.cpp
  unit/download_test.cpp
  unit/transfer_test.cpp
  unit/gathered_writer_test.cpp
  unit/written_digests_test.cpp
  unit/patch_test.cpp
  integration/config_test.cpp
  integration/config_reorganise_test.cpp
  # The transfer contract: the same tests as against libcurl, here against
  # WinInet and URLMON.
  integration/http_test.cpp
  integration/transfer_test.cpp
  integration/hostile_site_test.cpp
  integration/update_list_test.cpp
  window/jpeg_picture_test.cpp)
file(GLOB TVQ_WIN32_TESTS CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/win32/*_test.cpp)

# The prefix's server and its system programs are started here, kept
# running until the cleanup, and hold no test's output: a system program
# started by a test would keep that test's output open after it ended, and
# CTest would wait for it until the timeout.
find_program(TVQ_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
add_test(NAME wine_prefix COMMAND /bin/sh -c
         "\"$1\" -p </dev/null >/dev/null 2>&1; \"$0\" wineboot -i </dev/null >\"$2\" 2>&1 || { cat \"$2\"; exit 1; }"
         ${TVQ_WINE64} ${TVQ_WINESERVER} ${CMAKE_BINARY_DIR}/wineboot.log)
set_tests_properties(wine_prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 180
  ENVIRONMENT "WINEPREFIX=${TVQ_WINEPREFIX};WINEDEBUG=-all")
add_test(NAME wine_prefix_end COMMAND /bin/sh -c "\"$0\" -k; true" ${TVQ_WINESERVER})
set_tests_properties(wine_prefix_end PROPERTIES FIXTURES_CLEANUP wine
  ENVIRONMENT "WINEPREFIX=${TVQ_WINEPREFIX}")

add_library(tvqtestpch OBJECT ${CMAKE_CURRENT_SOURCE_DIR}/support/empty.cc)
target_link_libraries(tvqtestpch PRIVATE tvqtestsupport tvqtestcode gtest_main)
target_precompile_headers(tvqtestpch PRIVATE <gtest/gtest.h> <string> <vector> <filesystem>
                          <chrono> <optional> <functional> <map>)

foreach(src ${TVQ_WINDOWS_TESTS} ${TVQ_WIN32_TESTS})
  get_filename_component(folder ${src} DIRECTORY)
  get_filename_component(folder ${folder} NAME)
  get_filename_component(name ${src} NAME_WE)
  set(target win_${folder}_${name})
  if(IS_ABSOLUTE ${src})
    add_executable(${target} ${src})
  else()
    add_executable(${target} ${CMAKE_CURRENT_SOURCE_DIR}/${src})
  endif()
  target_link_libraries(${target} PRIVATE tvqtestsupport tvqtestcode gtest_main)
  tvq_use_test_pch(${target})
  # The window tests every toolkit shares run inside the Win32 form test.
  if(folder STREQUAL "win32" AND name STREQUAL "form_test")
    target_sources(${target} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/window/window_core_test.cpp
                   ${CMAKE_CURRENT_SOURCE_DIR}/win32/window_probe_win32.cpp)
  endif()
  if(name STREQUAL "console_display_test" OR name STREQUAL "jpeg_picture_test" OR name STREQUAL "form_test")
    target_link_libraries(${target} PRIVATE tvqui)
  endif()
  add_test(NAME ${target} COMMAND ${target})
  set_tests_properties(${target} PROPERTIES
    ENVIRONMENT "${TVQ_WINE_ENV}" FIXTURES_REQUIRED wine LABELS "wine;${folder}" TIMEOUT 300)
endforeach()

# A program that runs until told to stop: a "running tvq.exe" for the tests.
add_executable(win_sleeper ${CMAKE_CURRENT_SOURCE_DIR}/tools/win_sleeper.cpp)
target_link_options(win_sleeper PRIVATE -municode)
target_compile_definitions(tvqtestsupport PUBLIC WIN_SLEEPER_EXE="$<TARGET_FILE:win_sleeper>")

# The transfer, checksum and copy paths for bench/wine_transfer_bench.sh (its
# server is the Linux build's).
add_executable(transfer_bench_cli ${CMAKE_SOURCE_DIR}/bench/transfer_bench_cli.cpp)
target_link_libraries(transfer_bench_cli PRIVATE tvqpublishing)
add_executable(fileops_cli ${CMAKE_SOURCE_DIR}/bench/fileops_cli.cpp)
target_link_libraries(fileops_cli PRIVATE tvqcore)
