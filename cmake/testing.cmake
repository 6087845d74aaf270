# taviron_unit_tests(FOLDER LIBS...): every FOLDER/<name>_test.cpp becomes one
# GoogleTest program <name>_test linked with LIBS; the test support headers of
# tests/ are on its include path. Does nothing when the tests are off.
function(taviron_unit_tests folder)
  if(NOT TAVIRON_TESTS)
    return()
  endif()
  file(GLOB _sources CONFIGURE_DEPENDS ${folder}/*_test.cpp)
  foreach(_src IN LISTS _sources)
    get_filename_component(_name ${_src} NAME_WE)
    add_executable(${_name} ${_src})
    set_target_properties(${_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    target_include_directories(${_name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
    target_link_libraries(${_name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main)
    target_compile_definitions(${_name} PRIVATE
      TAVIRON_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples"
      TAVIRON_TESTDATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
    gtest_discover_tests(${_name} DISCOVERY_MODE PRE_TEST)
  endforeach()
endfunction()
