# cmake -DOBJDUMP=... -DEXE=... -DTABLE="name;bytes;ordinal;..." -P check_export_table.cmake
# Fails unless the executable's export table names the module "OMR72_FW_Updater.exe" and
# exports exactly the functions of TABLE, undecorated, under their ordinals.
execute_process(COMMAND ${OBJDUMP} -p ${EXE} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "export check: ${OBJDUMP} -p ${EXE} failed")
endif()

set(problems "")
if(NOT dump MATCHES "\nName[ \t]+[0-9a-fA-F]+ OMR72_FW_Updater\\.exe\n")
  string(APPEND problems "  module name is not OMR72_FW_Updater.exe\n")
endif()
if(NOT dump MATCHES "\nOrdinal Base[ \t]+([0-9]+)\n")
  message(FATAL_ERROR "export check: ${EXE} has no export table")
endif()
set(base ${CMAKE_MATCH_1})

# The name table lists "[index] name", the index counted from the ordinal base.
string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" names "${dump}")
string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" entries "${names}")
set(found "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "\\[ *([0-9]+)\\] (.+)" _ "${entry}")
  math(EXPR ordinal "${base} + ${CMAKE_MATCH_1}")
  string(STRIP "${CMAKE_MATCH_2}" name)
  list(APPEND found "${name}@${ordinal}")
endforeach()

set(expected "")
set(table ${TABLE})
while(table)
  list(POP_FRONT table name bytes ordinal)
  list(APPEND expected "${name}@${ordinal}")
endwhile()

list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  string(APPEND problems "  exports (name@ordinal) are: ${found}\n  expected: ${expected}\n")
endif()
if(problems)
  message(FATAL_ERROR "export table of ${EXE} is wrong:\n${problems}")
endif()
message(STATUS "export table of ${EXE}: ${found}")
