# Installation: the programs, one manual page each, and the bash completion
# under each program's name (bash-completion loads a command's completion
# from the file named after it). The Python package has its own rule in
# cmake/python.cmake. Only programs this tree builds are installed; the rules
# are made once the whole tree is read, so programs defined later count too.
include(GNUInstallDirs)
set(TAVIRON_PROGRAMS taviron taviron-search taviron-search-mpi taviron-convert taviron-depict
                     taviron-serve)

function(taviron_install_rules)
  set(_built)
  set(_pages)
  foreach(_prog IN LISTS TAVIRON_PROGRAMS)
    if(_prog STREQUAL "taviron-serve")
      # A launcher of the Python package, made by python/CMakeLists.txt when
      # the service's modules are there.
      if(NOT TAVIRON_SERVE_LAUNCHER)
        continue()
      endif()
      install(PROGRAMS ${TAVIRON_SERVE_LAUNCHER} DESTINATION ${CMAKE_INSTALL_BINDIR}
              RENAME taviron-serve)
      set(_exe ${TAVIRON_SERVE_PROGRAM})
      set(_depends _taviron ${TAVIRON_SERVE_PROGRAM})
    elseif(TARGET ${_prog})
      install(TARGETS ${_prog} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
      set(_exe $<TARGET_FILE:${_prog}>)
      set(_depends ${_prog})
    else()
      continue()
    endif()
    list(APPEND _built ${_prog})
    install(FILES ${PROJECT_SOURCE_DIR}/completion/taviron.bash
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME ${_prog})

    # The page's option list is the freshly built program's --help.
    set(_source ${PROJECT_SOURCE_DIR}/docs/man/${_prog}.1.in)
    set(_page ${CMAKE_BINARY_DIR}/man/${_prog}.1)
    if(NOT EXISTS ${_source})
      message(WARNING "${_prog} has no manual page source (docs/man/${_prog}.1.in)")
      continue()
    endif()
    add_custom_command(OUTPUT ${_page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND bash ${PROJECT_SOURCE_DIR}/docs/man/render.sh ${_exe} ${_source} ${_page}
      DEPENDS ${_depends} ${_source} ${PROJECT_SOURCE_DIR}/docs/man/render.sh
      COMMENT "Manual page ${_prog}.1"
      VERBATIM)
    list(APPEND _pages ${_page})
    install(FILES ${_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  add_custom_target(manpages ALL DEPENDS ${_pages})

  # One test installs the tree into temporary prefixes and checks the result.
  if(TAVIRON_TESTS)
    set(_python "")
    set(_preload "")
    if(TARGET _taviron)
      set(_python ${Python3_EXECUTABLE})
      # An instrumented module needs the sanitizer runtime loaded first, as in
      # the Python tests (cmake/python.cmake).
      if(TAVIRON_SANITIZE)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                        OUTPUT_VARIABLE _asan OUTPUT_STRIP_TRAILING_WHITESPACE)
        execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so.6
                        OUTPUT_VARIABLE _cxx OUTPUT_STRIP_TRAILING_WHITESPACE)
        set(_preload ${_asan}:${_cxx})
      endif()
    endif()
    list(JOIN _built " " _built)
    add_test(NAME install
      COMMAND bash ${PROJECT_SOURCE_DIR}/tests/install_test.sh
              ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR} "${_built}" "${_python}" "${_preload}")
    # It runs `make install`, which may touch the build tree: alone.
    set_tests_properties(install PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL taviron_install_rules)
