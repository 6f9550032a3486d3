# omr72_payload_doubts(<FWC.bin> <out-var>): sets <out-var> to a list of doubts about a
# firmware payload, empty when it looks like scrambled Orlo Mica R72 firmware. It reads only
# the bytes the update decides on: the identity record at 0x29F9..0x29FF (firmware version,
# model tag) and the required boot-loader version at 0xE000..0xE001. `omr72-image info` judges
# the same way (images/payload_check.cpp); a test holds the two to the same verdicts.

# The descrambling key bytes at those offsets: the key stream is the same for every payload,
# so the bytes are constants (the low bytes of the generator's outputs number 0x29FB..0x2A01
# and 0xE002..0xE003 after seeding with 27413).
set(OMR72_RECORD_KEYS 0x59 0x8B 0x71 0x45 0x0B 0x11 0x73)
set(OMR72_REQUIRED_KEYS 0x1D 0x32)

function(_omr72_descramble file offset keys out_var)
  list(LENGTH keys count)
  file(READ "${file}" hex OFFSET ${offset} LIMIT ${count} HEX)
  set(plain "")
  set(index 0)
  foreach(key IN LISTS keys)
    math(EXPR at "${index} * 2")
    string(SUBSTRING "${hex}" ${at} 2 byte)
    math(EXPR value "0x${byte} ^ ${key}")
    list(APPEND plain ${value})
    math(EXPR index "${index} + 1")
  endforeach()
  set(${out_var} "${plain}" PARENT_SCOPE)
endfunction()

# A version the maker could have released: not 0.0, major at most 9, minor at most 99.
function(_omr72_check_version what minor major out_var)
  set(doubts ${${out_var}})
  if((minor EQUAL 0 AND major EQUAL 0) OR major GREATER 9 OR minor GREATER 99)
    list(APPEND doubts "implausible ${what} ${major}.${minor}")
  endif()
  set(${out_var} "${doubts}" PARENT_SCOPE)
endfunction()

function(omr72_payload_doubts fwc out_var)
  set(doubts "")
  _omr72_descramble("${fwc}" 10745 "${OMR72_RECORD_KEYS}" record)
  _omr72_descramble("${fwc}" 57344 "${OMR72_REQUIRED_KEYS}" required)
  list(GET record 2 r)
  list(GET record 3 seven)
  list(GET record 4 two)
  if(NOT (r EQUAL 0x52 AND seven EQUAL 0x37 AND two EQUAL 0x32))
    list(APPEND doubts "the model tag does not start with \"R72\"")
  endif()
  list(GET record 0 minor)
  list(GET record 1 major)
  _omr72_check_version("firmware version" ${minor} ${major} doubts)
  list(GET required 0 minor)
  list(GET required 1 major)
  _omr72_check_version("required boot-loader version" ${minor} ${major} doubts)
  set(${out_var} "${doubts}" PARENT_SCOPE)
endfunction()
