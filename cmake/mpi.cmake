# taviron-search-mpi: the screen of taviron-search on the processes of an MPI
# job. Built when MPI is found (Open MPI on Debian: libopenmpi-dev
# openmpi-bin), unless TAVIRON_MPI is off; taviron-search never links MPI.
option(TAVIRON_MPI "Build taviron-search-mpi when MPI is found" ON)
if(NOT TAVIRON_MPI OR NOT TARGET screencli)
  return()
endif()
find_package(MPI QUIET COMPONENTS CXX)
find_program(TAVIRON_MPIEXEC NAMES mpirun mpiexec)
if(NOT MPI_CXX_FOUND OR NOT TAVIRON_MPIEXEC)
  message(STATUS "MPI not found: taviron-search-mpi skipped (apt-get install libopenmpi-dev openmpi-bin)")
  return()
endif()

add_executable(taviron-search-mpi src/taviron_search_mpi.cpp src/screenmpi.cpp)
target_link_libraries(taviron-search-mpi PRIVATE screencli MPI::MPI_CXX)

# End-to-end tests under mpirun (tests/mpi): every screen against
# taviron-search -j 1, and ranks that fail.
if(TAVIRON_TESTS)
  add_library(read_fails MODULE tests/mpi/read_fails.cpp)
  target_link_libraries(read_fails PRIVATE ${CMAKE_DL_LIBS})
  add_test(NAME mpi.screens
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/mpi/screens.sh
            $<TARGET_FILE_DIR:taviron-search-mpi> ${PROJECT_SOURCE_DIR}/examples
            $<TARGET_FILE:read_fails>)
  add_test(NAME mpi.kill_rank
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/mpi/kill_rank.sh
            $<TARGET_FILE_DIR:taviron-search-mpi> ${PROJECT_SOURCE_DIR}/examples
            $<TARGET_FILE:checkpoint_stop>)
  # Each run of mpirun has its own time limit; these end a test that hangs
  # anyway. The ranks take the cores: the tests run alone.
  set_tests_properties(mpi.screens mpi.kill_rank PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
endif()
