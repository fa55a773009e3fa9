# Writes a C++ source that holds files as byte arrays, so that a program
# carries them inside itself. Run as a script at build time:
#
#   cmake -DROOT=<folder> -DFILES=<a;b;c> -DOUTPUT=<file.cpp>
#         -DHEADER=<include path> -DTABLE=<name> -P EmbedFiles.cmake
#
# FILES are paths relative to ROOT, separated by commas; each row of the table TABLE (type
# EmbeddedFile, declared in HEADER) gives the file's path with a leading
# '/', its bytes and their number.
foreach(variable ROOT FILES OUTPUT HEADER TABLE)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "EmbedFiles.cmake needs -D${variable}=...")
  endif()
endforeach()

string(REPLACE "," ";" FILES "${FILES}")
set(arrays "")
set(rows "")
set(index 0)
foreach(file IN LISTS FILES)
  file(READ "${ROOT}/${file}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  # Sixteen bytes to a line.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "// ${file}\nconst unsigned char kFile${index}[] = {\n    ${bytes}0x00};\n\n")
  string(APPEND rows "    {\"/${file}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()

set(content "// Made at build time by cmake/EmbedFiles.cmake from ${ROOT}.\n")
string(APPEND content "#include \"${HEADER}\"\n\nnamespace {\n\n${arrays}}  // namespace\n\n")
string(APPEND content "const EmbeddedFile ${TABLE}[] = {\n${rows}};\n")
string(APPEND content "const std::size_t ${TABLE}Count = ${index};\n")

# Left alone when unchanged, so that nothing is compiled again for nothing.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" previous)
  if(previous STREQUAL content)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${content}")
