# The configure step and `omr72-image info` judge payload folders alike, and the configure step
# stops for implausible payloads unless forced.
# cmake -DTOOL=<omr72-image> -DSAMPLES=<good payloads> -DSOURCE=<source tree> -DWORK=<scratch>
#       -P this
cmake_minimum_required(VERSION 3.25)
include(${SOURCE}/cmake/PayloadPlausibility.cmake)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${ARGN}: exit ${rc}\n${out}${err}")
  endif()
endfunction()

# variant(<name> <descrambled offset> <printf text>...): the samples with the given bytes of the
# descrambled firmware image replaced, scrambled again.
function(variant name)
  set(dir ${WORK}/${name})
  file(MAKE_DIRECTORY ${dir})
  file(COPY ${SAMPLES}/BRC.bin ${SAMPLES}/BRC20.bin DESTINATION ${dir})
  run(${TOOL} descramble ${SAMPLES}/FWC.bin ${dir}/plain.bin)
  set(patches ${ARGN})
  while(patches)
    list(POP_FRONT patches offset text)
    run(sh -c "printf '${text}' | dd of=${dir}/plain.bin bs=1 seek=${offset} conv=notrunc 2>/dev/null")
  endwhile()
  run(${TOOL} scramble ${dir}/plain.bin ${dir}/FWC.bin)
  file(REMOVE ${dir}/plain.bin)
endfunction()

variant(tag_r71 10747 "R71")                       # model tag at 0x29FB
variant(firmware_10_0 10745 "\\000\\012")          # firmware version 10.0
variant(firmware_2_100 10745 "\\144")              # firmware version 2.100
variant(required_0_0 57344 "\\000\\000")           # required boot loader 0.0
variant(other_r72 10745 "\\005\\003R72AB" 57344 "\\001\\002")  # 3.5, R72AB, needs 2.1
# A firmware payload stored unscrambled.
file(MAKE_DIRECTORY ${WORK}/unscrambled)
file(COPY ${SAMPLES}/BRC.bin ${SAMPLES}/BRC20.bin DESTINATION ${WORK}/unscrambled)
run(${TOOL} descramble ${SAMPLES}/FWC.bin ${WORK}/unscrambled/FWC.bin)
# A blank boot loader, scrambled: only `info` sees it (the configure step reads FWC alone).
file(MAKE_DIRECTORY ${WORK}/blank_brc)
file(COPY ${SAMPLES}/FWC.bin ${SAMPLES}/BRC20.bin DESTINATION ${WORK}/blank_brc)
run(sh -c "head -c 65536 /dev/zero > ${WORK}/blank.bin")
run(${TOOL} scramble ${WORK}/blank.bin ${WORK}/blank_brc/BRC.bin)

# folder, whether plausible, a doubt both must name (or "")
set(cases
  ${SAMPLES} 1 "-"
  ${WORK}/other_r72 1 "-"
  ${WORK}/tag_r71 0 "the model tag does not start with \"R72\""
  ${WORK}/firmware_10_0 0 "implausible firmware version 10.0"
  ${WORK}/firmware_2_100 0 "implausible firmware version 2.100"
  ${WORK}/required_0_0 0 "implausible required boot-loader version 0.0"
  ${WORK}/unscrambled 0 "the model tag does not start with \"R72\"")
while(cases)
  list(POP_FRONT cases dir plausible doubt)
  omr72_payload_doubts(${dir}/FWC.bin doubts)
  execute_process(COMMAND ${TOOL} info ${dir} RESULT_VARIABLE rc OUTPUT_VARIABLE out)
  if(plausible)
    if(doubts OR NOT rc EQUAL 0 OR out MATCHES "WARNING")
      message(SEND_ERROR "${dir}: plausible, but configure doubts [${doubts}], info exit ${rc}:\n${out}")
    endif()
    continue()
  endif()
  if(NOT rc EQUAL 3 OR NOT doubt IN_LIST doubts)
    message(SEND_ERROR "${dir}: configure doubts [${doubts}], info exit ${rc}; wanted: ${doubt}")
  endif()
  # Every doubt of the configure step is one of info's warnings.
  foreach(d IN LISTS doubts)
    string(FIND "${out}" "WARNING: ${dir}/FWC.bin: ${d}\n" at)
    if(at EQUAL -1)
      message(SEND_ERROR "${dir}: info does not warn \"${d}\":\n${out}")
    endif()
  endforeach()
endwhile()

execute_process(COMMAND ${TOOL} info ${WORK}/blank_brc RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 3 OR NOT out MATCHES "WARNING: [^\n]*/BRC\\.bin: every byte is the same\n")
  message(SEND_ERROR "blank BRC.bin: info exit ${rc}:\n${out}")
endif()
# A file of random bytes as BRC20.bin descrambles into noise.
file(MAKE_DIRECTORY ${WORK}/random_brc20)
file(COPY ${SAMPLES}/FWC.bin ${SAMPLES}/BRC.bin DESTINATION ${WORK}/random_brc20)
run(sh -c "head -c 65536 /dev/urandom > ${WORK}/random_brc20/BRC20.bin")
execute_process(COMMAND ${TOOL} info ${WORK}/random_brc20 RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 3 OR NOT out MATCHES "WARNING: [^\n]*/BRC20\\.bin: it descrambles into random")
  message(SEND_ERROR "random BRC20.bin: info exit ${rc}:\n${out}")
endif()

# The configure step stops for the unscrambled folder, and goes on when forced.
foreach(force OFF ON)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK}/configure_${force} -G Ninja
            -DOMR72_BUILD_TESTS=OFF -DOMR72_PAYLOAD_DIR=${WORK}/unscrambled
            -DOMR72_FORCE_PAYLOADS=${force}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  string(REGEX REPLACE "[ \n]+" " " said "${err}")
  if(force)
    if(NOT rc EQUAL 0 OR NOT said MATCHES "Embedded anyway")
      message(SEND_ERROR "forced configure: exit ${rc}\n${out}${err}")
    endif()
  elseif(rc EQUAL 0 OR NOT said MATCHES "does not look like scrambled Orlo Mica R72 firmware")
    message(SEND_ERROR "configure with unscrambled payloads: exit ${rc}\n${out}${err}")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK}/configure_ON ${WORK}/configure_OFF)
