# taviron-convert and the molecule input behind it, built on RDKit.
#
# RDKit is optional: without its headers and libraries (Debian ships no CMake
# package file for it) the converter is left out and everything else builds.
# Defines the static library `molconvert` (the in-memory conversion API of
# src/molconvert.h; it brings the compile definition TAVIRON_HAVE_MOLCONVERT to
# whatever links it), the program `taviron-convert` and their tests.

find_path(TAVIRON_RDKIT_INCLUDE_DIR GraphMol/GraphMol.h PATH_SUFFIXES rdkit)
find_path(TAVIRON_BOOST_INCLUDE_DIR boost/version.hpp)
set(_rdkit_components Descriptors FileParsers SmilesParse Depictor GraphMol RDGeometryLib RDGeneral)
set(_rdkit_libraries)
set(_rdkit_missing FALSE)
foreach(_component IN LISTS _rdkit_components)
  find_library(TAVIRON_RDKIT_${_component}_LIBRARY RDKit${_component})
  if(TAVIRON_RDKIT_${_component}_LIBRARY)
    list(APPEND _rdkit_libraries ${TAVIRON_RDKIT_${_component}_LIBRARY})
  else()
    set(_rdkit_missing TRUE)
  endif()
endforeach()

if(_rdkit_missing OR NOT TAVIRON_RDKIT_INCLUDE_DIR OR NOT TAVIRON_BOOST_INCLUDE_DIR)
  message(STATUS "RDKit not found: taviron-convert skipped (apt-get install librdkit-dev libboost-dev)")
  return()
endif()

add_library(molconvert STATIC src/molconvert.cpp src/mollayout.cpp src/mollimits.cpp)
# RDKit's headers are kept out of molconvert.h, so they are private; SYSTEM
# keeps their warnings out of ours.
target_include_directories(molconvert SYSTEM PRIVATE
  ${TAVIRON_RDKIT_INCLUDE_DIR} ${TAVIRON_BOOST_INCLUDE_DIR})
target_link_libraries(molconvert PUBLIC cpd ${_rdkit_libraries})
target_compile_definitions(molconvert INTERFACE TAVIRON_HAVE_MOLCONVERT=1)

add_executable(taviron-convert src/taviron_convert.cpp)
target_link_libraries(taviron-convert PRIVATE molconvert)

# The screening programs read SD, MOL and SMILES files through the same
# conversion.
if(TARGET screencli)
  target_link_libraries(screencli PUBLIC molconvert)
endif()

if(TAVIRON_TESTS)
  find_package(GTest QUIET)
  if(GTest_FOUND)
    include(GoogleTest)
    enable_testing()
    set(_convert_tests ${PROJECT_SOURCE_DIR}/tests/convert)
    add_executable(molconvert_test ${_convert_tests}/molconvert_test.cpp)
    target_include_directories(molconvert_test SYSTEM PRIVATE
      ${TAVIRON_RDKIT_INCLUDE_DIR} ${TAVIRON_BOOST_INCLUDE_DIR})
    target_link_libraries(molconvert_test PRIVATE molconvert GTest::gtest GTest::gtest_main)
    target_compile_definitions(molconvert_test PRIVATE
      TAVIRON_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
      TAVIRON_CONVERT_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data/convert")
    gtest_discover_tests(molconvert_test DISCOVERY_MODE PRE_TEST)

    # End-to-end cases of the converter, laid out as those of tests/e2e.
    file(GLOB _convert_cases CONFIGURE_DEPENDS LIST_DIRECTORIES true ${_convert_tests}/e2e/*)
    foreach(_case IN LISTS _convert_cases)
      if(IS_DIRECTORY ${_case})
        get_filename_component(_name ${_case} NAME)
        add_test(NAME e2e.${_name}
          COMMAND bash ${PROJECT_SOURCE_DIR}/tests/e2e/run_case.sh
                  $<TARGET_FILE_DIR:taviron-convert> ${_case} ${PROJECT_SOURCE_DIR}/examples)
      endif()
    endforeach()
  endif()
endif()
