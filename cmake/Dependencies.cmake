# Every third-party package the build needs, found up front so that a missing
# one stops the configure step with the Debian package that provides it.
function(tarvek_require_package name debian)
  find_package(${name} ${ARGN} QUIET)
  if(NOT ${name}_FOUND)
    message(FATAL_ERROR "${name} not found: install the Debian package '${debian}' "
                        "(apt-get install ${debian}) or run 'make deps'.")
  endif()
endfunction()

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
tarvek_require_package(GTest libgtest-dev)
tarvek_require_package(benchmark libbenchmark-dev)
tarvek_require_package(pugixml libpugixml-dev)
