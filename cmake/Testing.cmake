# Test registration for both builds. In the win32 build every test runs under Wine (through
# the toolchain's emulator) with one wineserver kept alive by the "wine" fixture.
enable_testing()

if(CORVANE_WIN32)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(CORVANE_GTEST gtest gtest_main)

  set(CORVANE_WINE_ENV "CORVANE_BUILD_DIR=${CMAKE_BINARY_DIR}")
  add_test(NAME wine_server_start COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-server.sh start)
  add_test(NAME wine_server_stop COMMAND ${CMAKE_SOURCE_DIR}/cmake/wine-server.sh stop)
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine ENVIRONMENT "${CORVANE_WINE_ENV}")
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine ENVIRONMENT "${CORVANE_WINE_ENV}")
else()
  find_package(GTest REQUIRED)
  set(CORVANE_GTEST GTest::gtest GTest::gtest_main)
endif()

# corvane_test_timeout(<name> <seconds>): the test's time-out. A run with
# CORVANE_TEST_TIMEOUT_SCALE=N in the environment (an emulated machine, where everything is several
# times slower) multiplies every time-out by N when CTest reads the tests; see
# corvane_test_timeout_scaling.
function(corvane_test_timeout name seconds)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${seconds})
  set_property(GLOBAL APPEND PROPERTY CORVANE_TEST_TIMEOUTS "${name}=${seconds}")
endfunction()

# corvane_test_timeout_scaling(): called once, after every test is added. CTest reads the build
# tree's test files depth first, in the order of the directories: the scaling file, included by a
# directory added last, finds every test already there.
function(corvane_test_timeout_scaling)
  get_property(entries GLOBAL PROPERTY CORVANE_TEST_TIMEOUTS)
  set(text [=[
# Made by cmake/Testing.cmake: every test's time-out times CORVANE_TEST_TIMEOUT_SCALE, when set.
if(NOT "$ENV{CORVANE_TEST_TIMEOUT_SCALE}" MATCHES "^[1-9][0-9]*$")
  return()
endif()
]=])
  foreach(entry IN LISTS entries)
    string(REPLACE "=" ";" pair "${entry}")
    list(GET pair 0 name)
    list(GET pair 1 seconds)
    string(APPEND text "math(EXPR t \"${seconds} * \$ENV{CORVANE_TEST_TIMEOUT_SCALE}\")\n"
                       "set_tests_properties([=[${name}]=] PROPERTIES TIMEOUT \${t})\n")
  endforeach()
  file(WRITE ${CMAKE_BINARY_DIR}/test-timeouts/scale.cmake "${text}")
  add_subdirectory(${CMAKE_SOURCE_DIR}/cmake/test-timeouts ${CMAKE_BINARY_DIR}/test-timeouts)
endfunction()

# corvane_gtest(<name> SOURCES ... LIBS ... [TIMEOUT s])
# One executable, one CTest entry (no per-case discovery: that would run Wine at build time).
function(corvane_gtest name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${CORVANE_GTEST})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${name} --gtest_color=no)
  corvane_test_timeout(${name} ${T_TIMEOUT})
  if(CORVANE_WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${CORVANE_WINE_ENV}")
  endif()
endfunction()

# corvane_script_test(<name> COMMAND ...): a shell-driven test (end-to-end runs under Wine).
function(corvane_script_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "COMMAND" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_test(NAME ${name} COMMAND ${T_COMMAND})
  corvane_test_timeout(${name} ${T_TIMEOUT})
  if(CORVANE_WIN32)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${CORVANE_WINE_ENV}")
  endif()
endfunction()

# corvane_golden_dir(<target> <dir>): the test program finds the golden files of <dir> through
# CORVANE_GOLDEN_DIR, as its build sees the path (a Windows build runs under Wine, where Z: is the
# Unix root).
function(corvane_golden_dir target dir)
  cmake_path(SET golden NORMALIZE "${dir}")
  if(CORVANE_WIN32)
    set(golden "Z:${golden}")
  endif()
  target_compile_definitions(${target} PRIVATE CORVANE_GOLDEN_DIR="${golden}")
endfunction()

# corvane_copy_codecs(<target>): the codec libraries beside the test programs, as the program
# carries them beside itself (win32 only).
function(corvane_copy_codecs target)
  if(NOT CORVANE_WIN32)
    return()
  endif()
  foreach(dll MiniLZO QuickLZ QuickLZ131)
    if(TARGET ${dll})
      add_dependencies(${target} ${dll})
      add_custom_command(TARGET ${target} POST_BUILD
        COMMAND ${CMAKE_COMMAND} -E copy_if_different $<TARGET_FILE:${dll}> ${CMAKE_BINARY_DIR}/tests/)
    endif()
  endforeach()
endfunction()
