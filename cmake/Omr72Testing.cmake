# GoogleTest: Debian's packaged build on Linux; the Debian sources for the MinGW cross builds.
include(CTest)
if(CMAKE_CROSSCOMPILING)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # Newer googletest sources name their targets GTest::... themselves.
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock ALIAS gmock)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

# omr72_test_suite(NAME SOURCES a.cpp ... LIBS lib ... [OWN_NETWORK] [PROPERTIES p v ...]): one test executable whose cases CTest
# lists one by one, as "<area>.<Suite>.<Case>" (omr72_usblink_tests gives "usblink.UsbLink.X"),
# so that `ctest -R` picks single cases, `ctest -N` lists them and `ctest -L <area>` runs one
# executable's cases.
# On the win64 preset the cases are listed and run through CMAKE_CROSSCOMPILING_EMULATOR (wine64).
include(GoogleTest)
set(omr72_discovery "")
if(CMAKE_CROSSCOMPILING_EMULATOR)
  # Listed when CTest starts rather than after each link: the build then needs no wine, and a
  # wine that starts slowly (a new prefix) has the time it needs. A cache entry
  # CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE chooses otherwise.
  if(NOT CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE)
    set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  endif()
  set(omr72_discovery DISCOVERY_TIMEOUT 120)
endif()

# Programs that take the machine-wide instance lock (an abstract Unix socket on Linux) run in a
# network namespace of their own: OMR72_OWN_NETWORK prefixes such a test's command, and
# omr72_test_suite(... OWN_NETWORK) runs every case of a suite that way. Under wine the lock is
# a named mutex of the build tree's own prefix, which nothing else uses.
if(WIN32)
  set(OMR72_OWN_NETWORK "")
else()
  set(OMR72_OWN_NETWORK ${PROJECT_SOURCE_DIR}/tests/own_network.sh)
endif()

function(omr72_test_suite name)
  cmake_parse_arguments(T "OWN_NETWORK" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  # GoogleTest's discovery and every case run through the target's emulator.
  if(T_OWN_NETWORK AND OMR72_OWN_NETWORK)
    set_target_properties(${name} PROPERTIES CROSSCOMPILING_EMULATOR ${OMR72_OWN_NETWORK})
  endif()
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  string(REGEX REPLACE "^omr72_(.*)_tests$" "\\1" area ${name})
  gtest_discover_tests(${name} TEST_PREFIX "${area}." NO_PRETTY_VALUES ${omr72_discovery}
    PROPERTIES LABELS ${area} ${T_PROPERTIES})
endfunction()
