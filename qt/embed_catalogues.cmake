# Writes the .qm files given as one C++ table (qt/translations.cpp includes it), so that the
# window carries its translations without Qt's resource compiler.
# Usage: cmake -DOUT=translations.inc -DLANGUAGES="de;nl;fr" -DDIR=<dir of valdrix_<lang>.qm> -P
set(text "// Made by qt/embed_catalogues.cmake; do not edit.\n")
set(table "")
foreach(language IN LISTS LANGUAGES)
  file(READ ${DIR}/valdrix_${language}.qm hex HEX)
  string(LENGTH "${hex}" length)
  math(EXPR size "${length} / 2")
  string(REGEX REPLACE "(..)" "0x\\1," bytes "${hex}")
  string(APPEND text "static const unsigned char qm_${language}[] = {${bytes}};\n")
  string(APPEND table "    {\"${language}\", qm_${language}, ${size}},\n")
endforeach()
string(APPEND text "struct EmbeddedCatalogue {\n  const char* language;\n  const unsigned char* data;\n"
                   "  int size;\n};\nstatic const EmbeddedCatalogue EMBEDDED_CATALOGUES[] = {\n${table}};\n")
file(WRITE ${OUT} "${text}")
