# Script mode: writes OUTPUT, a C++ source holding every resource file below
# SOURCE_DIR as a byte array plus the table that indexes them.
file(GLOB files LIST_DIRECTORIES false ${SOURCE_DIR}/*/*)
list(SORT files)

set(arrays "")
set(entries "")
set(index 0)
foreach(path ${files})
  get_filename_component(folder ${path} DIRECTORY)
  get_filename_component(type ${folder} NAME)
  get_filename_component(leaf ${path} NAME)
  if(NOT leaf MATCHES "^([0-9]+)(\\.[^/]*)?$")
    message(FATAL_ERROR "Resource file ${type}/${leaf}: the name must start with its numeric id")
  endif()
  set(id ${CMAKE_MATCH_1})
  if(id GREATER 65535)
    message(FATAL_ERROR "Resource file ${type}/${leaf}: id above 65535")
  endif()
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  # Sixteen bytes a line; a trailing zero byte keeps empty files legal and
  # leaves text resources NUL-terminated (it is not counted in the size).
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "// ${type}/${leaf}\nconst unsigned char kData${index}[] = {\n    ${bytes}0x00};\n\n")
  string(APPEND entries "    {\"${type}\", ${id}, kData${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

file(WRITE ${OUTPUT} "// Generated from the files of resources/ at build time. Do not edit.
#include \"platform/resources/EmbeddedResource.h\"

namespace tessaline {
namespace {

${arrays}}  // namespace

extern const EmbeddedResource kEmbeddedResources[] = {
${entries}    {nullptr, 0, nullptr, 0},
};
extern const size_t kEmbeddedResourceCount = ${index};

}  // namespace tessaline
")
