# Depictions: the drawing module (part of the engine library, so every program
# and the Python module draw alike), the HTML report of a screen, and the
# program taviron-depict.
target_sources(cpd PRIVATE src/depict.cpp)
if(TARGET taviron-search)
  target_sources(cpd PRIVATE src/report_html.cpp)
endif()

add_executable(taviron-depict src/taviron_depict.cpp)
target_link_libraries(taviron-depict PRIVATE cpd)
