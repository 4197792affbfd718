# GoogleTest: the installed package for native builds; built from Debian's source package
# (/usr/src/googletest) for the Windows cross-build.
include(GoogleTest)
if(CMAKE_CROSSCOMPILING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
    foreach(lib gtest gtest_main gmock gmock_main)
        if(NOT TARGET GTest::${lib})
            add_library(GTest::${lib} ALIAS ${lib})
        endif()
    endforeach()
else()
    find_package(GTest REQUIRED)
endif()

# Registers a GoogleTest program with ctest, one ctest entry per test case. Discovery runs when
# ctest runs, so Windows programs are listed under Wine inside xvfb-run, not at build time.
function(vellumor_add_gtest target)
    # A test that skips (GTEST_SKIP) shows as skipped in ctest's summary, not as passed.
    gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
        PROPERTIES TIMEOUT 300 SKIP_REGULAR_EXPRESSION "\\[  SKIPPED \\]" ${ARGN})
endfunction()
