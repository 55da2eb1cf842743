# Embeds assets/*.jpg into the program: at build time a generated source file
# holds each file's bytes and a table of names (see src/ui/assets.h).
#
# Included from the top CMakeLists: registers the generation step and sets
# TVQ_ASSET_SOURCES. Run as a script (cmake -P) with TVQ_ASSET_DIR and
# TVQ_ASSET_OUT: writes the source file.

if(CMAKE_SCRIPT_MODE_FILE)
  file(GLOB TVQ_ASSET_FILES ${TVQ_ASSET_DIR}/*.jpg)
  list(SORT TVQ_ASSET_FILES)
  set(body "// Generated from assets/*.jpg at build time; do not edit.\n")
  string(APPEND body "#include \"ui/assets.h\"\n\nnamespace {\n")
  set(table "")
  set(index 0)
  foreach(path IN LISTS TVQ_ASSET_FILES)
    get_filename_component(name "${path}" NAME)
    file(READ "${path}" hex HEX)
    string(LENGTH "${hex}" digits)
    math(EXPR size "${digits} / 2")
    # Sixteen bytes a line keeps the generated file readable in a diff tool.
    string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
    string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " bytes "${bytes}")
    string(APPEND body "const unsigned char kAsset${index}[] = {\n  ${bytes}0};\n")
    string(APPEND table "    {\"${name}\", kAsset${index}, ${size}},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  string(APPEND body "}  // namespace\n\n")
  string(APPEND body "const EmbeddedAsset kEmbeddedAssets[] = {\n${table}    {nullptr, nullptr, 0}};\n")
  file(WRITE "${TVQ_ASSET_OUT}.tmp" "${body}")
  file(COPY_FILE "${TVQ_ASSET_OUT}.tmp" "${TVQ_ASSET_OUT}" ONLY_IF_DIFFERENT)
  file(REMOVE "${TVQ_ASSET_OUT}.tmp")
  return()
endif()

file(GLOB TVQ_ASSET_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/assets/*.jpg)
set(TVQ_ASSET_OUT ${CMAKE_BINARY_DIR}/generated/tvq_assets.cpp)
add_custom_command(
  OUTPUT ${TVQ_ASSET_OUT}
  COMMAND ${CMAKE_COMMAND} -DTVQ_ASSET_OUT=${TVQ_ASSET_OUT}
          -DTVQ_ASSET_DIR=${CMAKE_SOURCE_DIR}/assets
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${TVQ_ASSET_FILES} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Embedding the illustrations"
  VERBATIM)
set(TVQ_ASSET_SOURCES ${TVQ_ASSET_OUT})
