# The Python package `taviron`: the extension module _taviron (pybind11) and
# its pure-Python layer, laid out in <build>/python/taviron so that
# PYTHONPATH=<build>/python imports it; `cmake --install` copies the package
# into the interpreter's site directory under the install prefix.
#
# The module is built for Debian's interpreter /usr/bin/python3, which has the
# Debian modules (pytest, rdkit) the package and its tests use; a python3
# found first on PATH (pyenv, a venv) usually lacks them. Configure with
# -DPython3_EXECUTABLE=... to build for another one.
if(NOT DEFINED Python3_EXECUTABLE AND EXISTS /usr/bin/python3)
  set(Python3_EXECUTABLE /usr/bin/python3 CACHE FILEPATH "Python interpreter the module is built for")
endif()
find_package(Python3 QUIET COMPONENTS Interpreter Development.Module)
if(Python3_FOUND)
  find_package(pybind11 CONFIG QUIET)
endif()
if(NOT Python3_FOUND OR NOT pybind11_FOUND)
  message(STATUS "pybind11 or Python headers not found: Python package skipped (apt-get install pybind11-dev python3-dev)")
  return()
endif()

# The engine's static libraries end up inside a shared module.
set_target_properties(vembo cpd PROPERTIES POSITION_INDEPENDENT_CODE ON)
if(TARGET molconvert)
  set_target_properties(molconvert PROPERTIES POSITION_INDEPENDENT_CODE ON)
endif()

set(TAVIRON_PYTHON_DIR ${CMAKE_BINARY_DIR}/python/taviron)
pybind11_add_module(_taviron MODULE NO_EXTRAS python/module.cpp python/pyengine.cpp)
target_include_directories(_taviron PRIVATE python)
target_link_libraries(_taviron PRIVATE cpd)
if(TARGET molconvert)
  target_link_libraries(_taviron PRIVATE molconvert)
endif()
set_target_properties(_taviron PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${TAVIRON_PYTHON_DIR})
set(_taviron_python_files __init__.py __init__.pyi py.typed)
foreach(_file IN LISTS _taviron_python_files)
  configure_file(python/taviron/${_file} ${TAVIRON_PYTHON_DIR}/${_file} COPYONLY)
endforeach()

# <prefix>/lib/python3.X/dist-packages where the interpreter's own site
# directory is called so (Debian), site-packages elsewhere.
execute_process(
  COMMAND ${Python3_EXECUTABLE} -c
    "import os, sys, sysconfig; print('lib/python%d.%d/' % sys.version_info[:2] + os.path.basename(sysconfig.get_path('platlib')))"
  OUTPUT_VARIABLE _taviron_site OUTPUT_STRIP_TRAILING_WHITESPACE)
set(TAVIRON_PYTHON_INSTALL_DIR ${_taviron_site} CACHE PATH
    "Directory (relative to the install prefix) the taviron package is installed in")
install(TARGETS _taviron LIBRARY DESTINATION ${TAVIRON_PYTHON_INSTALL_DIR}/taviron COMPONENT python)
list(TRANSFORM _taviron_python_files PREPEND ${PROJECT_SOURCE_DIR}/python/taviron/)
install(FILES ${_taviron_python_files} DESTINATION ${TAVIRON_PYTHON_INSTALL_DIR}/taviron COMPONENT python)

# The tests compare the package with the programs on the same input.
if(TAVIRON_TESTS)
  execute_process(COMMAND ${Python3_EXECUTABLE} -c "import pytest"
                  RESULT_VARIABLE _taviron_no_pytest OUTPUT_QUIET ERROR_QUIET)
  if(_taviron_no_pytest)
    message(STATUS "pytest not found for ${Python3_EXECUTABLE}: Python tests skipped (apt-get install python3-pytest)")
    return()
  endif()
  enable_testing()
  set(_taviron_python_env
    PYTHONPATH=${CMAKE_BINARY_DIR}/python
    PYTHONDONTWRITEBYTECODE=1
    TAVIRON_BIN=$<TARGET_FILE:taviron>
    TAVIRON_SEARCH_BIN=$<TARGET_FILE:taviron-search>
    TAVIRON_EXAMPLES_DIR=${PROJECT_SOURCE_DIR}/examples)
  if(TARGET taviron-convert)
    list(APPEND _taviron_python_env TAVIRON_CONVERT_BIN=$<TARGET_FILE:taviron-convert>)
  endif()
  if(TARGET taviron-depict)
    list(APPEND _taviron_python_env TAVIRON_DEPICT_BIN=$<TARGET_FILE:taviron-depict>)
  endif()
  if(TAVIRON_SANITIZE)
    # The interpreter is not instrumented: the sanitizer runtime has to be
    # loaded before anything else for the module's checks to work, and the C++
    # library with it, or the runtime finds no __cxa_throw to intercept (the
    # interpreter itself does not load it) and aborts at the first exception.
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libasan.so
                    OUTPUT_VARIABLE _taviron_asan OUTPUT_STRIP_TRAILING_WHITESPACE)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=libstdc++.so.6
                    OUTPUT_VARIABLE _taviron_cxx OUTPUT_STRIP_TRAILING_WHITESPACE)
    list(APPEND _taviron_python_env LD_PRELOAD=${_taviron_asan}:${_taviron_cxx})
  endif()
  file(GLOB _taviron_python_tests CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/python/test_*.py)
  foreach(_test IN LISTS _taviron_python_tests)
    get_filename_component(_name ${_test} NAME_WE)
    add_test(NAME python.${_name}
      COMMAND ${Python3_EXECUTABLE} -m pytest -q -p no:cacheprovider ${_test})
    set_tests_properties(python.${_name} PROPERTIES ENVIRONMENT "${_taviron_python_env}")
  endforeach()
endif()
