# Writes the bytes of a compiled .res file as the C array the POSIX
# platform layer takes the module's resources from.
file(READ ${IN} hex HEX)
string(LENGTH "${hex}" len)
math(EXPR size "${len} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x..,){16})" "\\1\n" bytes "${bytes}")
file(WRITE ${OUT} "/* Generated from ${IN}. */\n#include <stddef.h>\n"
  "const unsigned char velmora_module_resources[] = {\n${bytes}\n};\n"
  "const size_t velmora_module_resources_size = ${size};\n")
