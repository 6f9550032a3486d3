# Every tool: --help says how to use it on stdout and exits 0; --version names the tool and the
# project's version; an unknown argument is refused with exit code 2 and one line on stderr,
# with nothing on stdout.
# cmake -DVERSION=<project version> -DTOOLS=<tool>;... -P this
foreach(tool IN LISTS TOOLS)
  get_filename_component(name ${tool} NAME)
  execute_process(COMMAND ${tool} --help RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out MATCHES "^[Uu]sage: ${name} " OR NOT err STREQUAL "")
    message(SEND_ERROR "${name} --help: exit ${rc}\n${out}${err}")
  endif()
  execute_process(COMMAND ${tool} --version RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "${name} ${VERSION}\n" OR NOT err STREQUAL "")
    message(SEND_ERROR "${name} --version: exit ${rc}\n${out}${err}")
  endif()
  foreach(bad --no-such-option --help=x --versionx)
    execute_process(COMMAND ${tool} ${bad} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                    ERROR_VARIABLE err)
    string(REGEX MATCHALL "\n" lines "${err}")
    list(LENGTH lines count)
    if(NOT rc EQUAL 2 OR NOT out STREQUAL "" OR NOT count EQUAL 1 OR NOT err MATCHES "^${name}: ")
      message(SEND_ERROR "${name} ${bad}: exit ${rc}, wanted 2 and one line on stderr:\n${out}${err}")
    endif()
  endforeach()
endforeach()
