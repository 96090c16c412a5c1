# cmake -DIN=FILE -DOUT=FILE.inc -DNAME=identifier -P embed-file.cmake
# Writes FILE's bytes as the initialiser of a C++ array named NAME; the
# output is rewritten only when it changes.
file(READ "${IN}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," hex "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" hex "${hex}")
file(CONFIGURE OUTPUT "${OUT}" CONTENT "// Generated from ${IN}; do not edit.\nconst unsigned char ${NAME}[] = {\n${hex}0};\n" @ONLY)
