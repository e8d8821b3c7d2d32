# Writes the page IN as a C++ unit OUT defining KzHttpWallPage().
file(READ ${IN} page)
set(delimiter "KzWallPage")
string(FIND "${page}" ")${delimiter}\"" clash)
if(NOT clash EQUAL -1)
  message(FATAL_ERROR "${IN} contains the raw-string delimiter")
endif()
file(WRITE ${OUT} "// Generated from kzwallpage.html; edit that file.\n#include \"webserver/fmxMKzHttpWallPage.h\"\n\nnamespace kz {\nconst std::string& KzHttpWallPage() {\n  static const std::string page = R\"${delimiter}(${page})${delimiter}\";\n  return page;\n}\n}  // namespace kz\n")
