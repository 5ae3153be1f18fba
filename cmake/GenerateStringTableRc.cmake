# Turns the string table's one source (C literals) into a Windows resource
# script. RC strings write a double quote as "" rather than \", the one escape
# in which the two syntaxes differ for the texts we hold.
#   set(INPUT ...) set(OUTPUT ...) include(GenerateStringTableRc.cmake), or
#   cmake -DINPUT=string_table.inc -DOUTPUT=strings.rc -P GenerateStringTableRc.cmake
file(STRINGS "${INPUT}" lines)
set(body "")
foreach(line IN LISTS lines)
  if(line MATCHES "^TW_STRING\\(([0-9]+), [A-Z_0-9]+, \"(.*)\"\\)$")
    set(id "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    string(REPLACE "\\\"" "\"\"" text "${text}")
    string(APPEND body "    ${id}, \"${text}\"\n")
  elseif(line MATCHES "^TW_STRING")
    message(FATAL_ERROR "unreadable string table line: ${line}")
  endif()
endforeach()
file(WRITE "${OUTPUT}.tmp"
"// Generated from string_table.inc; edit that file instead.
LANGUAGE 0x09, 0x01
STRINGTABLE
BEGIN
${body}END
")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
