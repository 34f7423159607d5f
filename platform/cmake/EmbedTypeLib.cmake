# Writes a C source that carries an interface description as the module's type library
# resource (see platform/typelib_resource.h). Run with -DIDL=<file.idl> -DOUT=<file.c>.
file(READ "${IDL}" bytes HEX)
string(LENGTH "${bytes}" hex_length)
math(EXPR length "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," array "${bytes}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n  " array "${array}")
file(WRITE "${OUT}.tmp" "/* Generated from ${IDL}; do not edit. */
#include \"platform/typelib_resource.h\"

static const char description[${length} + 1] = {
  ${array} 0};

__attribute__((visibility(\"default\"), used)) const QvTypeLibResource QuorvexTypeLibResource = {
    QV_TYPELIB_RESOURCE_MAGIC, QV_TYPELIB_RESOURCE_VERSION, description, ${length}};
")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
