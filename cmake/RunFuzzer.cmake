# Runs one libFuzzer target for a bounded time, as a test:
#   cmake -DFUZZER=<binary> -DCORPUS=<dir> -DWORK_DIR=<dir> -DSECONDS=<n> -P RunFuzzer.cmake
# The corpus kept in the source tree is copied into WORK_DIR/corpus first, so
# the inputs libFuzzer adds (and any crash artifact) land in the build tree
# only. Fails on a crash, a leak, a slow input, an out-of-memory or any
# sanitizer report, and leaves a summary of the run in WORK_DIR/stats.txt.
foreach(_var FUZZER CORPUS WORK_DIR SECONDS)
  if(NOT DEFINED ${_var})
    message(FATAL_ERROR "RunFuzzer.cmake needs -D${_var}=...")
  endif()
endforeach()
get_filename_component(_name ${FUZZER} NAME)

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/corpus)
file(GLOB _seeds LIST_DIRECTORIES false ${CORPUS}/*)
if(_seeds)
  file(COPY ${_seeds} DESTINATION ${WORK_DIR}/corpus)
endif()

# UBSan reports stop the run (the code is also built with
# -fno-sanitize-recover); leaks are checked after every input that leaked and
# at exit.
set(ENV{UBSAN_OPTIONS} "halt_on_error=1:abort_on_error=1:print_stacktrace=1")
set(ENV{ASAN_OPTIONS} "detect_leaks=1:abort_on_error=1:strict_string_checks=1")

# With -jobs the fuzzing runs in a child process whose output goes to
# fuzz-0.log in the working directory; the exit status tells whether it failed.
execute_process(
  COMMAND ${FUZZER} -max_total_time=${SECONDS} -jobs=1 -workers=1 -timeout=10
          -rss_limit_mb=2048 -malloc_limit_mb=1024 -max_len=4096 -print_final_stats=1
          -artifact_prefix=${WORK_DIR}/ ${WORK_DIR}/corpus
  WORKING_DIRECTORY ${WORK_DIR}
  RESULT_VARIABLE _result)

set(_log "")
if(EXISTS ${WORK_DIR}/fuzz-0.log)
  file(READ ${WORK_DIR}/fuzz-0.log _log)
endif()
string(REGEX MATCHALL "[^\n]*\n" _lines "${_log}\n")
list(LENGTH _lines _count)
math(EXPR _first "${_count} - 40")
if(_first LESS 0)
  set(_first 0)
endif()
list(SUBLIST _lines ${_first} -1 _tail)
string(REPLACE ";" "" _tail "${_tail}")
message("${_tail}")

# The figures of the run: executions; coverage, features and corpus units of
# the last status line; the files in the corpus directory at the end.
set(_execs "?")
if(_log MATCHES "stat::number_of_executed_units: ([0-9]+)")
  set(_execs ${CMAKE_MATCH_1})
endif()
set(_cov "?")
set(_ft "?")
set(_units "?")
string(REGEX MATCHALL "cov: [0-9]+ ft: [0-9]+ corp: [0-9]+" _status "${_log}")
if(_status)
  list(GET _status -1 _last)
  string(REGEX MATCH "cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+)" _ignored "${_last}")
  set(_cov ${CMAKE_MATCH_1})
  set(_ft ${CMAKE_MATCH_2})
  set(_units ${CMAKE_MATCH_3})
endif()
file(GLOB _corpus LIST_DIRECTORIES false ${WORK_DIR}/corpus/*)
list(LENGTH _corpus _corpus_size)
list(LENGTH _seeds _seed_count)
set(_summary
    "${_name}: ${SECONDS} s, ${_execs} executions, cov ${_cov}, ft ${_ft}, ${_units} units, corpus ${_seed_count} -> ${_corpus_size} files")
file(WRITE ${WORK_DIR}/stats.txt "${_summary}\n")
message("${_summary}")

if(NOT _result EQUAL 0)
  message(FATAL_ERROR "${_name} failed (exit status ${_result}); see ${WORK_DIR}/fuzz-0.log")
endif()
foreach(_pattern "ERROR: libFuzzer" "ERROR: AddressSanitizer" "ERROR: LeakSanitizer"
                 "runtime error:" "WARNING: .*Sanitizer" "SUMMARY: [A-Za-z]*Sanitizer")
  if(_log MATCHES "${_pattern}")
    message(FATAL_ERROR "${_name} reported '${_pattern}'; see ${WORK_DIR}/fuzz-0.log")
  endif()
endforeach()
if(_execs STREQUAL "?")
  message(FATAL_ERROR "${_name} printed no final statistics; see ${WORK_DIR}/fuzz-0.log")
endif()
