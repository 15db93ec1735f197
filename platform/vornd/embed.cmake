# Writes OUT, a C++ file defining kDemoModel with the text of IN.
file(READ ${IN} text)
string(FIND "${text}" ")vornd_model\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw string delimiter")
endif()
file(WRITE ${OUT}.new "// Generated from ${IN}; do not edit.\n"
  "namespace vornd {\nextern const char kDemoModel[];\n"
  "const char kDemoModel[] = R\"vornd_model(${text})vornd_model\";\n}\n")
file(COPY_FILE ${OUT}.new ${OUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT}.new)
