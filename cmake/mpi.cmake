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
