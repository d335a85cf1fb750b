# Fails when the browser module outgrows what a page should fetch: tamsolo.wasm over 1.5 MiB
# (we aim under 1 MiB) or tamsolo.js over 200 KiB; and, when LOADER is given, when the served
# folder lacks the loader.
foreach(pair "WASM;1572864" "JS;204800")
  list(GET pair 0 var)
  list(GET pair 1 limit)
  if(NOT EXISTS "${${var}}")
    message(FATAL_ERROR "missing ${${var}}")
  endif()
  file(SIZE "${${var}}" size)
  message(STATUS "${${var}}: ${size} bytes (limit ${limit})")
  if(size GREATER limit)
    message(FATAL_ERROR "${${var}} is ${size} bytes, over the limit of ${limit}")
  endif()
endforeach()
if(DEFINED LOADER AND NOT EXISTS "${LOADER}")
  message(FATAL_ERROR "missing ${LOADER}")
endif()
