# Build flavours: TARVEK_SANITIZE selects a sanitizer build ("address" for
# ASan+UBSan, "thread" for TSan); the presets set it.
set(TARVEK_SANITIZE "" CACHE STRING "Sanitizer build: empty, address or thread")
option(TARVEK_LIBFUZZER "Link fuzz targets with libFuzzer (clang only)" OFF)
# Warnings stop the build only where the project is developed (the presets and
# CI turn this on): a user or packager with a newer compiler that warns about
# something new still gets a library.
option(TARVEK_WERROR "Treat compiler warnings in project code as errors" OFF)

add_library(tarvek_options INTERFACE)
target_compile_options(tarvek_options INTERFACE -Wall -Wextra)
if(TARVEK_WERROR)
  target_compile_options(tarvek_options INTERFACE -Werror)
endif()
# GCC 12 at -O2 and above reports overlapping copies inside std::string that
# cannot happen (GCC bug 105329), in whichever file inlining happens to
# expose them; the warning says nothing about our code there.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tarvek_options INTERFACE -Wno-restrict)
endif()
if(TARVEK_SANITIZE STREQUAL "address")
  set(_tarvek_san -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
elseif(TARVEK_SANITIZE STREQUAL "thread")
  set(_tarvek_san -fsanitize=thread -fno-omit-frame-pointer)
elseif(NOT TARVEK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "TARVEK_SANITIZE must be empty, 'address' or 'thread'")
endif()
if(_tarvek_san)
  # GCC's flow analysis reports uninitialised members inside the standard
  # library's regular-expression code when sanitizers instrument it; the
  # warning is wrong there. Clang has no such warning and rejects the flag.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(tarvek_options INTERFACE -Wno-maybe-uninitialized)
  endif()
  # Applied to every target so that libraries and tests agree on the runtime.
  add_compile_options(${_tarvek_san})
  add_link_options(${_tarvek_san})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    # A C program linked by clang gets only the C part of the sanitizer
    # runtime, but the C++ libraries it loads need the rest (UBSan's vptr
    # checks), and that part needs the C++ ABI library.
    add_link_options($<$<LINK_LANGUAGE:C>:-fsanitize-link-c++-runtime> $<$<LINK_LANGUAGE:C>:-lstdc++>)
  endif()
endif()

if(TARVEK_LIBFUZZER)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TARVEK_LIBFUZZER needs clang")
  endif()
  # Every library the fuzz targets link reports coverage to libFuzzer; only
  # the targets themselves link its main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Project code links this to get the warning flags; third-party code does not.
function(tarvek_target target)
  target_link_libraries(${target} PRIVATE tarvek_options)
endfunction()

# Adds every direct subdirectory of the current source directory that has a
# CMakeLists.txt, so each area owns its own build file.
function(tarvek_add_subdirectories)
  file(GLOB _children LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR}
       ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT _children)
  foreach(_child IN LISTS _children)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${_child}
       AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_child}/CMakeLists.txt)
      add_subdirectory(${_child})
    endif()
  endforeach()
endfunction()

# Test code is compiled for build speed: every test translation unit parses
# GoogleTest, GoogleMock and the same standard headers, so one precompiled
# header per build serves them all, and the tests' own code is not optimised
# even in an optimised build (the libraries under test still are; only the
# test harness is compiled at -O0). Together this halves the time `make test`
# spends compiling tests in its several presets.
set(_tarvek_test_flags $<$<NOT:$<CONFIG:Debug>>:-O0>)
function(_tarvek_test_pch)
  if(TARGET tarvek_test_pch)
    return()
  endif()
  # An executable, so that the header is compiled with exactly the flags
  # (position-independent executable code) of the tests that reuse it.
  add_executable(tarvek_test_pch ${PROJECT_SOURCE_DIR}/tests/support/TestPch.cpp)
  tarvek_target(tarvek_test_pch)
  target_compile_options(tarvek_test_pch PRIVATE ${_tarvek_test_flags})
  target_link_libraries(tarvek_test_pch PRIVATE GTest::gtest GTest::gmock Threads::Threads)
  target_precompile_headers(tarvek_test_pch PRIVATE
    <gtest/gtest.h> <gmock/gmock.h>
    <algorithm> <atomic> <chrono> <cstdint> <cstring> <filesystem> <fstream> <functional>
    <map> <memory> <mutex> <optional> <set> <sstream> <string> <thread> <vector>)
endfunction()

# Declares a GoogleTest executable registered with CTest.
#   tarvek_add_test(NAME name SOURCES ... LIBS ... [LABELS ...])
function(tarvek_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  _tarvek_test_pch()
  add_executable(${T_NAME} ${T_SOURCES})
  tarvek_target(${T_NAME})
  target_compile_options(${T_NAME} PRIVATE ${_tarvek_test_flags})
  # Test code is compiled as a unity build in every build; the libraries and
  # programs a user builds still compile one file at a time where asked.
  set_target_properties(${T_NAME} PROPERTIES UNITY_BUILD ON)
  target_precompile_headers(${T_NAME} REUSE_FROM tarvek_test_pch)
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} GTest::gtest GTest::gmock GTest::gtest_main
                                          Threads::Threads)
  include(GoogleTest)
  gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 120 LABELS "${T_LABELS}")
endfunction()

# Seconds each fuzz target runs under libFuzzer in the test suite
# (fuzz/run_campaign.sh runs the same targets for longer).
set(TARVEK_FUZZ_SECONDS 10 CACHE STRING "Seconds per fuzz target in the libFuzzer test run")

# Declares a fuzz target (a LLVMFuzzerTestOneInput in SOURCES) whose corpus is
# fuzz/corpus/<name>/. With clang and TARVEK_LIBFUZZER it links libFuzzer and
# its test fuzzes for TARVEK_FUZZ_SECONDS from a copy of the corpus in the
# build tree (cmake/RunFuzzer.cmake); otherwise it links a small driver that
# replays the corpus and a bounded number of mutated inputs, so every build
# runs a short fuzz pass as part of the test suite.
#   tarvek_add_fuzzer(NAME name SOURCES ... LIBS ... [RUNS n])
function(tarvek_add_fuzzer)
  cmake_parse_arguments(F "" "NAME;RUNS" "SOURCES;LIBS" ${ARGN})
  if(NOT F_RUNS)
    set(F_RUNS 20000)
  endif()
  set(_corpus ${PROJECT_SOURCE_DIR}/fuzz/corpus/${F_NAME})
  if(NOT IS_DIRECTORY ${_corpus})
    message(FATAL_ERROR "fuzz target ${F_NAME} has no corpus in ${_corpus}")
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  tarvek_target(${F_NAME})
  # `fuzzers` builds every fuzz target and nothing else.
  if(NOT TARGET fuzzers)
    add_custom_target(fuzzers)
  endif()
  add_dependencies(fuzzers ${F_NAME})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND TARVEK_LIBFUZZER)
    target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
    add_test(NAME fuzz.${F_NAME}
             COMMAND ${CMAKE_COMMAND} -DFUZZER=$<TARGET_FILE:${F_NAME}> -DCORPUS=${_corpus}
                     -DWORK_DIR=${PROJECT_BINARY_DIR}/fuzz-work/${F_NAME}
                     -DSECONDS=${TARVEK_FUZZ_SECONDS} -P ${PROJECT_SOURCE_DIR}/cmake/RunFuzzer.cmake)
    # libFuzzer stops at the time limit; the margin covers loading the corpus,
    # the final leak check and a slow shared machine.
    math(EXPR _timeout "${TARVEK_FUZZ_SECONDS} * 2 + 120")
  else()
    # The replaying driver is compiled once and linked into every target.
    if(NOT TARGET tarvek_fuzz_main)
      add_library(tarvek_fuzz_main OBJECT ${PROJECT_SOURCE_DIR}/fuzz/StandaloneFuzzMain.cpp)
      tarvek_target(tarvek_fuzz_main)
    endif()
    target_link_libraries(${F_NAME} PRIVATE tarvek_fuzz_main)
    add_test(NAME fuzz.${F_NAME} COMMAND ${F_NAME} --runs=${F_RUNS} --seeds=${_corpus})
    set(_timeout 300)
  endif()
  set_tests_properties(fuzz.${F_NAME} PROPERTIES TIMEOUT ${_timeout} LABELS fuzz)
endfunction()
