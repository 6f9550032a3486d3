# Runs omr72-image on good and bad payload folders.
# cmake -DTOOL=<omr72-image> -DSAMPLES=<folder of good payloads> -DWORK=<scratch folder> -P this
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/bad ${WORK}/long)
file(COPY ${SAMPLES}/FWC.bin DESTINATION ${WORK}/bad)
file(WRITE ${WORK}/bad/BRC20.bin "")
file(COPY ${SAMPLES}/BRC.bin ${SAMPLES}/BRC20.bin DESTINATION ${WORK}/long)
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${SAMPLES}/FWC.bin ${SAMPLES}/FWC.bin
                OUTPUT_FILE ${WORK}/long/FWC.bin)

# expect(<exit code> <regex the whole output must match> <tool arguments>...)
function(expect code pattern)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT result EQUAL code OR NOT "${out}${err}" MATCHES "^${pattern}$")
    message(SEND_ERROR "omr72-image ${ARGN}: exit ${result}, wanted ${code}; output:\n${out}${err}")
  endif()
endfunction()

expect(0 "New firmware version: 2\\.10\nRequired boot loader version: 2\\.0\nModel tag: R72SM\nSamples: [^\n]* sample payloads[^\n]*\n"
       info ${SAMPLES})
expect(1 "omr72-image: [^\n]*/BRC\\.bin: No such file or directory\n" info ${WORK}/bad)
expect(1 "omr72-image: [^\n]*/FWC\\.bin: holds 131072 bytes; a payload holds exactly 65536\n"
       info ${WORK}/long)
expect(1 "omr72-image: [^\n]*: not a regular file\n" scramble ${WORK} ${WORK}/out.bin)
expect(1 "omr72-image: [^\n]*/x\\.bin: No such file or directory\n"
       descramble ${SAMPLES}/FWC.bin ${WORK}/no/such/x.bin)
expect(2 "usage: omr72-image info PATH\n.*" info)

# Descrambling shows the identity record in the clear; scrambling restores the stored bytes,
# here through a link, which stays a link to the replaced file.
expect(0 "" descramble ${SAMPLES}/FWC.bin ${WORK}/plain.bin)
file(WRITE ${WORK}/stored.bin "old")
file(CREATE_LINK ${WORK}/stored.bin ${WORK}/link.bin SYMBOLIC)
expect(0 "" scramble ${WORK}/plain.bin ${WORK}/link.bin)
if(NOT IS_SYMLINK ${WORK}/link.bin)
  message(SEND_ERROR "the link written through is no longer a link")
endif()
file(READ ${WORK}/plain.bin record OFFSET 10745 LIMIT 7 HEX)  # 0x29F9..0x29FF
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SAMPLES}/FWC.bin ${WORK}/stored.bin
                RESULT_VARIABLE differs)
if(NOT record STREQUAL "0a02523732534d" OR differs OR EXISTS ${WORK}/out.bin)
  message(SEND_ERROR "round trip: record ${record}, stored copy differs: ${differs}")
endif()
