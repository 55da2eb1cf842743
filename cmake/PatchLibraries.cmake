# zstd and libdivsufsort for patches: tvq_zstd (the applier decodes, the
# maker encodes) and tvq_divsufsort (the maker only). Linux links Debian's
# libraries; the Windows build compiles the files it needs from the sources
# of Debian's packages, which scripts/bootstrap puts under /usr/src, into
# static libraries.
if(NOT WIN32)
  pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
  pkg_check_modules(DIVSUFSORT REQUIRED IMPORTED_TARGET libdivsufsort)
  add_library(tvq_zstd INTERFACE)
  target_link_libraries(tvq_zstd INTERFACE PkgConfig::ZSTD)
  add_library(tvq_divsufsort INTERFACE)
  target_link_libraries(tvq_divsufsort INTERFACE PkgConfig::DIVSUFSORT)
  return()
endif()

set(TVQ_ZSTD_SOURCE /usr/src/zstd CACHE PATH "zstd's sources (scripts/bootstrap)")
set(TVQ_DIVSUFSORT_SOURCE /usr/src/libdivsufsort CACHE PATH "libdivsufsort's sources (scripts/bootstrap)")
foreach(needed ${TVQ_ZSTD_SOURCE}/lib/zstd.h ${TVQ_DIVSUFSORT_SOURCE}/lib/divsufsort.c)
  if(NOT EXISTS ${needed})
    message(FATAL_ERROR "${needed} is missing: run scripts/bootstrap")
  endif()
endforeach()

# The library's own code builds with its own warnings, not the project's.
file(GLOB TVQ_ZSTD_SOURCES ${TVQ_ZSTD_SOURCE}/lib/common/*.c ${TVQ_ZSTD_SOURCE}/lib/compress/*.c
     ${TVQ_ZSTD_SOURCE}/lib/decompress/*.c)
add_library(tvq_zstd STATIC ${TVQ_ZSTD_SOURCES})
target_include_directories(tvq_zstd SYSTEM PUBLIC ${TVQ_ZSTD_SOURCE}/lib)
# The assembly decoder loop is written for the System V calling convention.
target_compile_definitions(tvq_zstd PRIVATE ZSTD_DISABLE_ASM)
target_compile_options(tvq_zstd PRIVATE -w)

# divsufsort.h and config.h as the library's own CMake makes them for a
# system with <inttypes.h>, 32-bit positions, a static library.
set(TVQ_DIVSUFSORT_INCLUDE ${CMAKE_BINARY_DIR}/divsufsort-include)
set(W64BIT "")
set(INCFILE "#include <inttypes.h>")
set(DIVSUFSORT_IMPORT "")
set(DIVSUFSORT_EXPORT "")
set(SAUCHAR_TYPE uint8_t)
set(SAINT32_TYPE int32_t)
set(SAINDEX_TYPE int32_t)
set(SAINT_PRId PRId32)
set(SAINDEX_PRId PRId32)
configure_file(${TVQ_DIVSUFSORT_SOURCE}/include/divsufsort.h.cmake ${TVQ_DIVSUFSORT_INCLUDE}/divsufsort.h @ONLY)
set(PROJECT_VERSION_FULL 2.0.1)
foreach(header INTTYPES_H STDDEF_H STDINT_H STDLIB_H STRING_H SYS_TYPES_H)
  set(HAVE_${header} 1)
endforeach()
set(INLINE inline)
configure_file(${TVQ_DIVSUFSORT_SOURCE}/include/config.h.cmake ${TVQ_DIVSUFSORT_INCLUDE}/config.h)
unset(PROJECT_VERSION_FULL)
add_library(tvq_divsufsort STATIC ${TVQ_DIVSUFSORT_SOURCE}/lib/divsufsort.c ${TVQ_DIVSUFSORT_SOURCE}/lib/sssort.c
            ${TVQ_DIVSUFSORT_SOURCE}/lib/trsort.c ${TVQ_DIVSUFSORT_SOURCE}/lib/utils.c)
target_include_directories(tvq_divsufsort SYSTEM PUBLIC ${TVQ_DIVSUFSORT_INCLUDE})
target_include_directories(tvq_divsufsort PRIVATE ${TVQ_DIVSUFSORT_SOURCE}/include)
target_compile_definitions(tvq_divsufsort PRIVATE HAVE_CONFIG_H=1)
target_compile_options(tvq_divsufsort PRIVATE -w)
