# Embeds the schema's SQL files (library/schema/*.sql) into the brisquel library: each file
# becomes one entry of brisquel::schema::detail::kSqlFiles, generated in the build folder.
file(GLOB VANTREL_SCHEMA_SQL CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.sql)
list(SORT VANTREL_SCHEMA_SQL)
set(VANTREL_SCHEMA_SQL_CPP ${CMAKE_CURRENT_BINARY_DIR}/schema_sql.cpp)
string(REPLACE ";" "|" VANTREL_SCHEMA_SQL_ARG "${VANTREL_SCHEMA_SQL}")
add_custom_command(
  OUTPUT ${VANTREL_SCHEMA_SQL_CPP}
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${VANTREL_SCHEMA_SQL_CPP} -DINPUTS=${VANTREL_SCHEMA_SQL_ARG}
          -P ${CMAKE_CURRENT_LIST_DIR}/sql_to_cpp.cmake
  DEPENDS ${VANTREL_SCHEMA_SQL} ${CMAKE_CURRENT_LIST_DIR}/sql_to_cpp.cmake
  COMMENT "Embedding the site database schema"
  VERBATIM)
target_sources(brisquel PRIVATE ${VANTREL_SCHEMA_SQL_CPP})
