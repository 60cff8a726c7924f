# Turns a binary file into a C++ source holding it as a byte array.
file(READ ${INPUT} HEX HEX)
string(LENGTH "${HEX}" HEX_LEN)
math(EXPR SIZE "${HEX_LEN} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," BYTES "${HEX}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" BYTES "${BYTES}")
file(WRITE ${OUTPUT} "// Generated from the sample clip; do not edit.\n#include <cstddef>\n#include <cstdint>\nnamespace norvale::sample {\nextern const std::uint8_t kClipBytes[] = {\n${BYTES}\n};\nextern const std::size_t kClipSize = ${SIZE};\n}\n")
