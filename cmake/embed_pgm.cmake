# cmake -DINPUT=<file.pgm> -DOUTPUT=<file.cpp> -DSYMBOL=<name> -P embed_pgm.cmake
#
# Turns a binary PGM ("P5\n<W> <H>\n255\n" followed by W x H bytes) into a C++ source that
# defines `const uint8_t <SYMBOL>[W * H]`, the pixels row after row.
file(READ "${INPUT}" hex HEX)
string(REGEX MATCH "^50350a((3[0-9])+)20((3[0-9])+)0a3235350a" header "${hex}")
if(NOT header)
  message(FATAL_ERROR "${INPUT}: expected a header \"P5\\n<W> <H>\\n255\\n\"")
endif()
set(widthDigits "${CMAKE_MATCH_1}")
set(heightDigits "${CMAKE_MATCH_3}")
string(REGEX REPLACE "3([0-9])" "\\1" width "${widthDigits}")
string(REGEX REPLACE "3([0-9])" "\\1" height "${heightDigits}")
string(LENGTH "${header}" headerLength)
string(SUBSTRING "${hex}" ${headerLength} -1 pixels)
string(LENGTH "${pixels}" pixelHexLength)
math(EXPR expected "${width} * ${height} * 2")
if(NOT pixelHexLength EQUAL expected)
  message(FATAL_ERROR "${INPUT}: ${width} x ${height} needs ${expected} hex digits, has ${pixelHexLength}")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," pixels "${pixels}")
# Sixty-four values a line.
string(REGEX REPLACE "((0x..,){64})" "\\1\n" pixels "${pixels}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated at build time from ${name} (${width} x ${height}); do not edit.\n"
  "#include <cstdint>\n\n"
  "extern const uint8_t ${SYMBOL}[${width} * ${height}];\n"
  "const uint8_t ${SYMBOL}[${width} * ${height}] = {\n${pixels}};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
