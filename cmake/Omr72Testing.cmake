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

# omr72_test_suite(NAME SOURCES a.cpp ... LIBS lib ... [PROPERTIES p v ...]): one test executable whose cases CTest
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

function(omr72_test_suite name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest_main GTest::gmock)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  string(REGEX REPLACE "^omr72_(.*)_tests$" "\\1" area ${name})
  gtest_discover_tests(${name} TEST_PREFIX "${area}." NO_PRETTY_VALUES ${omr72_discovery}
    PROPERTIES LABELS ${area} ${T_PROPERTIES})
endfunction()
