# Writes a C++ source that holds the resource script and its header as text, so that the host
# builds load the very templates that the Windows build compiles. Run with -DRC=, -DHEADER=, -DOUT=.
function(embed_as_array name file out_var)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  string(REPEAT "[^,]*," 16 sixteen)
  string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")
  set(${out_var} "extern const char ${name}[] = {\n    ${bytes}'\\0'};\n" PARENT_SCOPE)
endfunction()

embed_as_array(kResourceScript "${RC}" script)
embed_as_array(kResourceHeader "${HEADER}" header)
file(WRITE "${OUT}.tmp"
  "// Generated from uninstall.rc and resource.h by embed.cmake; do not edit.\n"
  "#include \"embedded_resources.h\"\n\nnamespace rk514 {\n\n${script}\n${header}\n}  // namespace rk514\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
