# The `all` preset: one tree that builds and tests the other presets' trees, in order, so that
# `cmake --workflow --preset all` is the whole check. A workflow keeps to one configure preset,
# hence this small tree rather than a list of workflows.
#   build: configure and build each preset in OMR72_ALL_PRESETS, one after the other
#   test:  one test per preset, running that preset's own `ctest --preset`
#          through ctest-preset.sh, where under tools/test.sh or CI a skipped test is a failure
# Each nested step takes its parallelism from CMAKE_BUILD_PARALLEL_LEVEL and
# CTEST_PARALLEL_LEVEL, as the plain commands would.

set(previous "")
foreach(preset IN LISTS OMR72_ALL_PRESETS)
  add_custom_target(${preset} ALL
    COMMAND ${CMAKE_COMMAND} --preset ${preset}
    COMMAND ${CMAKE_COMMAND} --build --preset ${preset}
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    COMMENT "Preset ${preset}: configure and build"
    USES_TERMINAL VERBATIM)
  # In the order given: the quick Linux tree first, so that most faults show early.
  if(previous)
    add_dependencies(${preset} ${previous})
  endif()
  set(previous ${preset})

  set(command ${CMAKE_SOURCE_DIR}/cmake/ctest-preset.sh ${CMAKE_CTEST_COMMAND} ${preset})
  if(preset STREQUAL "win32")
    # The 32-bit programs' tests run where 32-bit code runs: here if this machine runs it, else
    # in a QEMU guest with Debian's kernel, whose wine prefixes are made in its memory. Each
    # test program runs once with all its cases: a wine process per case is what costs there.
    set(command ${CMAKE_SOURCE_DIR}/testbeds/windows/i386-guest
        --guest-dir ${CMAKE_BINARY_DIR}/i386-guest
        --tmpfs build/win32/wineprefix --tmpfs build/win32/standin-wineprefix --
        ${CMAKE_SOURCE_DIR}/testbeds/windows/win32-tests.sh --per-program)
  endif()
  add_test(NAME ${preset} COMMAND ${command}
           WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
  # One nested test run at a time: each uses the machine as the plain command would. A guest
  # that hangs is ended before CTest's own time-out, so that QEMU never outlives the test.
  set_tests_properties(${preset} PROPERTIES RUN_SERIAL ON TIMEOUT 3600
                       ENVIRONMENT OMR72_I386_GUEST_TIMEOUT=3300)
endforeach()
