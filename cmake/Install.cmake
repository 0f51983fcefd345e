# What `cmake --install` puts under the prefix, beyond the targets that
# install themselves: the public headers, pkg-config files, the CMake package
# (find_package(TARVEK CONFIG) gives TARVEK::driver and TARVEK::visa), the
# emulator, man pages, documentation. Every file is placed relative to the
# prefix, so a tree installed with `--prefix P` works wherever P is.
include(CMakePackageConfigHelpers)

set(TARVEK_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/TARVEK)
set(TARVEK_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The public headers go to their own directory: visa.h and visatype.h would
# clash with another VISA library's headers in a shared include directory.
install(FILES ${PROJECT_SOURCE_DIR}/include/TARVEK.h ${PROJECT_SOURCE_DIR}/include/ivi.h
              ${PROJECT_SOURCE_DIR}/include/visa.h ${PROJECT_SOURCE_DIR}/include/visatype.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tarvek COMPONENT development)

install(TARGETS tarvek-emulator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# CMake package.
install(EXPORT TARVEKTargets NAMESPACE TARVEK:: DESTINATION ${TARVEK_INSTALL_CMAKEDIR}
        COMPONENT development)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/TARVEKConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/install/TARVEKConfig.cmake
                              INSTALL_DESTINATION ${TARVEK_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/install/TARVEKConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/install/TARVEKConfig.cmake
              ${PROJECT_BINARY_DIR}/install/TARVEKConfigVersion.cmake
        DESTINATION ${TARVEK_INSTALL_CMAKEDIR} COMPONENT development)

# pkg-config files find the prefix from their own place (${pcfiledir}).
file(RELATIVE_PATH TARVEK_PC_PREFIX_FROM_PCDIR
     ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" TARVEK_PC_PREFIX_FROM_PCDIR "${TARVEK_PC_PREFIX_FROM_PCDIR}")
foreach(_pc tarvek tkvisa tk6x1x)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/${_pc}.pc.in ${PROJECT_BINARY_DIR}/install/${_pc}.pc
                 @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/install/${_pc}.pc DESTINATION ${TARVEK_INSTALL_PKGCONFIGDIR}
          COMPONENT development)
endforeach()

# Man pages, made by help2man from the programs' own --help, so they cannot
# drift from what the programs accept. Each row: page, program, arguments
# that print its help, one-line description.
find_program(HELP2MAN_EXECUTABLE help2man)
if(HELP2MAN_EXECUTABLE)
  set(_man_pages
      "tarvek|tarvek|--help|drive TARVEK DC power supplies from the shell"
      "tarvek-store|tarvek|store --help|edit the IVI configuration store for TARVEK"
      "tarvek-emulator|tarvek-emulator|--help|emulated TARVEK DC power supply")
  set(_man_outputs)
  foreach(_row IN LISTS _man_pages)
    string(REPLACE "|" ";" _fields "${_row}")
    list(GET _fields 0 _page)
    list(GET _fields 1 _program)
    list(GET _fields 2 _help)
    list(GET _fields 3 _name)
    set(_out ${PROJECT_BINARY_DIR}/man/${_page}.1)
    add_custom_command(
      OUTPUT ${_out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
              ${HELP2MAN_EXECUTABLE} --no-info --no-discard-stderr
              --version-string=${PROJECT_VERSION} --help-option=${_help} --name=${_name}
              --include=${PROJECT_SOURCE_DIR}/docs/man/${_page}.h2m --output=${_out}
              $<TARGET_FILE:${_program}>
      COMMAND ${CMAKE_COMMAND} -DPAGE=${_page} -DFILE=${_out}
              -P ${PROJECT_SOURCE_DIR}/cmake/ManPageTitle.cmake
      DEPENDS ${_program} ${PROJECT_SOURCE_DIR}/docs/man/${_page}.h2m
              ${PROJECT_SOURCE_DIR}/cmake/ManPageTitle.cmake
      COMMENT "Writing the ${_page}(1) man page"
      VERBATIM)
    list(APPEND _man_outputs ${_out})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${_man_outputs})
  install(FILES ${_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
else()
  message(STATUS "help2man not found (Debian package 'help2man'): no man pages")
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
        COMPONENT runtime FILES_MATCHING PATTERN "*.md" PATTERN man EXCLUDE)
install(FILES ${PROJECT_SOURCE_DIR}/examples/config/tarvek-config.xml
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT runtime)
