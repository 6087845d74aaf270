# taviron-search: many pairs through the same engine, on several threads.
find_package(Threads REQUIRED)
target_sources(cpd PRIVATE src/screen.cpp src/screenrun.cpp src/screenout.cpp src/shard.cpp
  src/screenchunk.cpp)
target_link_libraries(cpd PUBLIC Threads::Threads)

# The command line shared by the screening programs (options, inputs, output).
add_library(screencli STATIC src/screencli.cpp)
target_link_libraries(screencli PUBLIC cpd)

add_executable(taviron-search src/taviron_search.cpp)
target_link_libraries(taviron-search PRIVATE screencli)

# The screening tests run both programs on the same pairs. The test target is
# defined later (tests/), so it is completed once the whole tree is read.
function(taviron_search_test_programs)
  if(TARGET screen_test)
    add_dependencies(screen_test taviron taviron-search)
    target_compile_definitions(screen_test PRIVATE
      TAVIRON_BIN="$<TARGET_FILE:taviron>"
      TAVIRON_SEARCH_BIN="$<TARGET_FILE:taviron-search>")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL taviron_search_test_programs)
