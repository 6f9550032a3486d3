# Runs omr72-image on good and bad payload folders.
# cmake -DTOOL=<omr72-image> -DSAMPLES=<folder of good payloads> -DWORK=<scratch folder> -P this
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

# expect(<name> <exit code> <regex the output must match> <regex it must not match> <args>...)
function(expect name code pattern forbidden)
  execute_process(COMMAND ${TOOL} ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  set(all "${out}${err}")
  if(NOT result EQUAL code OR NOT all MATCHES "${pattern}" OR all MATCHES "${forbidden}")
    message(SEND_ERROR "${name}: exit ${result} (wanted ${code}); output:\n${all}")
  endif()
endfunction()

expect(good-folder 0
       "^New firmware version: 2\\.10\nRequired boot loader version: 2\\.0\nModel tag: R72SM\n$"
       "omr72-image:" info ${SAMPLES})

# A folder with one payload missing and one empty: both named, no fields shown.
file(MAKE_DIRECTORY ${WORK}/bad)
file(COPY ${SAMPLES}/FWC.bin DESTINATION ${WORK}/bad)
file(WRITE ${WORK}/bad/BRC20.bin "")
expect(bad-folder 1 "BRC\\.bin: no such file.*BRC20\\.bin: holds 0 bytes" "version|FWC"
       info ${WORK}/bad)

# Too long is as wrong as too short.
file(MAKE_DIRECTORY ${WORK}/long)
file(COPY ${SAMPLES}/BRC.bin ${SAMPLES}/BRC20.bin DESTINATION ${WORK}/long)
execute_process(COMMAND ${CMAKE_COMMAND} -E cat ${SAMPLES}/FWC.bin ${SAMPLES}/FWC.bin
                OUTPUT_FILE ${WORK}/long/FWC.bin)
expect(long-payload 1 "FWC\\.bin: holds 131072 bytes; a payload holds exactly 65536" "version"
       info ${WORK}/long)

expect(empty-input 1 "BRC20\\.bin: holds 0 bytes" "^$"
       scramble ${WORK}/bad/BRC20.bin ${WORK}/out.bin)
expect(missing-input 1 "nothing\\.bin: no such file" "^$"
       descramble ${WORK}/nothing.bin ${WORK}/out.bin)
expect(folder-as-input 1 "not a regular file" "^$" scramble ${WORK} ${WORK}/out.bin)
expect(unwritable-output 1 "x\\.bin: cannot be written" "^$"
       descramble ${SAMPLES}/FWC.bin ${WORK}/no/such/dir/x.bin)
expect(unknown-command 2 "usage: omr72-image" "^$" frobnicate)
expect(info-without-folder 2 "usage: omr72-image" "^$" info)
if(EXISTS ${WORK}/out.bin)
  message(SEND_ERROR "a failed run left ${WORK}/out.bin behind")
endif()

# Descrambling shows the fields in the clear; scrambling that gives the stored payload back.
expect(descramble 0 "^$" "." descramble ${SAMPLES}/FWC.bin ${WORK}/plain.bin)
expect(scramble 0 "^$" "." scramble ${WORK}/plain.bin ${WORK}/stored.bin)
file(READ ${WORK}/plain.bin fields OFFSET 10745 LIMIT 7 HEX)  # 0x29F9..0x29FF
if(NOT fields STREQUAL "0a02523732534d")
  message(SEND_ERROR "descrambled identity record is ${fields}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${SAMPLES}/FWC.bin ${WORK}/stored.bin
                RESULT_VARIABLE differs)
if(differs)
  message(SEND_ERROR "scramble of the descrambled payload differs from the stored payload")
endif()
