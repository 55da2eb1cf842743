# The Windows programs' resources: a manifest, the version information and
# the icon, compiled by the mingw-w64 resource compiler (windres).
#
# The version text is the program's own (kVersion in src/app/run/run.h, e.g.
# "1.0j"); the numeric version is major.minor.letter.0 with the letter
# counted from a = 1, so "1.0j" is 1.0.10.0.

set(TVQ_COMPANY_NAME "Kestrin" CACHE STRING "Company name in the programs' version information")
set(TVQ_PRODUCT_NAME "Zadovez Live Update" CACHE STRING "Product name in the programs' version information")

file(STRINGS ${CMAKE_SOURCE_DIR}/src/app/run/run.h TVQ_VERSION_LINE REGEX "kVersion = \"")
string(REGEX MATCH "\"([0-9]+)\\.([0-9]+)([a-z]?)\"" TVQ_VERSION_QUOTED "${TVQ_VERSION_LINE}")
if(NOT TVQ_VERSION_QUOTED)
  message(FATAL_ERROR "no version of the form 1.0 or 1.0j in src/app/run/run.h")
endif()
set(TVQ_VERSION_TEXT "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
set(TVQ_VERSION_LETTER 0)
if(CMAKE_MATCH_3)
  string(FIND "abcdefghijklmnopqrstuvwxyz" "${CMAKE_MATCH_3}" TVQ_VERSION_LETTER)
  math(EXPR TVQ_VERSION_LETTER "${TVQ_VERSION_LETTER} + 1")
endif()
set(TVQ_RC_VERSION_COMMAS "${CMAKE_MATCH_1},${CMAKE_MATCH_2},${TVQ_VERSION_LETTER},0")
set(TVQ_RC_VERSION_DOTS "${CMAKE_MATCH_1}.${CMAKE_MATCH_2}.${TVQ_VERSION_LETTER}.0")

# A text as the inside of a resource script's string ("" stands for ").
function(tvq_rc_string out text)
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# A text as XML character data.
function(tvq_xml_text out text)
  string(REPLACE "&" "&amp;" text "${text}")
  string(REPLACE "<" "&lt;" text "${text}")
  string(REPLACE ">" "&gt;" text "${text}")
  string(REPLACE "\"" "&quot;" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Gives target (a program named target.exe) the manifest, the version
# information with description, and the icon.
function(tvq_windows_resources target description)
  set(dir ${CMAKE_BINARY_DIR}/resources/${target})
  set(TVQ_RC_NAME ${target})
  set(TVQ_RC_ICON ${CMAKE_SOURCE_DIR}/res/tvqlupd.ico)
  set(TVQ_RC_MANIFEST ${dir}/${target}.manifest)
  string(REGEX REPLACE "[^A-Za-z0-9]" "" assembly "${TVQ_COMPANY_NAME}")
  set(TVQ_RC_ASSEMBLY "${assembly}.${target}")
  tvq_xml_text(TVQ_RC_DESCRIPTION "${description}")
  configure_file(${CMAKE_SOURCE_DIR}/res/program.manifest.in ${TVQ_RC_MANIFEST} @ONLY)
  tvq_rc_string(TVQ_RC_DESCRIPTION "${description}")
  tvq_rc_string(TVQ_RC_COMPANY "${TVQ_COMPANY_NAME}")
  tvq_rc_string(TVQ_RC_PRODUCT "${TVQ_PRODUCT_NAME}")
  configure_file(${CMAKE_SOURCE_DIR}/res/program.rc.in ${dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${dir}/${target}.rc)
  set_property(SOURCE ${dir}/${target}.rc APPEND PROPERTY OBJECT_DEPENDS
               ${TVQ_RC_ICON} ${TVQ_RC_MANIFEST})
endfunction()
