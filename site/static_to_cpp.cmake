# cmake -DOUTPUT=<file.cpp> -DROOT=<site/static> -P static_to_cpp.cmake
# Builds the files below ROOT into the program as byte strings, named by their path below ROOT.
file(GLOB_RECURSE inputs RELATIVE "${ROOT}" "${ROOT}/*")
list(SORT inputs)
set(body "// Generated from site/static by static_to_cpp.cmake; edit the files there.\n")
string(APPEND body "#include \"site/static_files.h\"\n\nnamespace site::detail {\n\nusing namespace std::string_view_literals;\n\n")
string(APPEND body "extern const StaticFile kStaticFiles[] = {\n")
foreach(name IN LISTS inputs)
  file(READ "${ROOT}/${name}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
  # A long literal in pieces, so no compiler meets one line of megabytes.
  string(REGEX REPLACE "((\\\\x[0-9a-f][0-9a-f]){64})" "\\1\"\n  \"" escaped "${escaped}")
  string(APPEND body "  {\"${name}\"sv, \"${escaped}\"sv},\n")
endforeach()
string(APPEND body "};\n\nextern const size_t kStaticFileCount = sizeof(kStaticFiles) / sizeof(kStaticFiles[0]);\n\n")
string(APPEND body "}  // namespace site::detail\n")
file(WRITE "${OUTPUT}.tmp" "${body}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
