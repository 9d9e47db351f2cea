# The graphics suites decode the embedded pictures and save a PNG of the pixels when a test fails.
foreach(suite test_graph test_render)
  if(TARGET ${suite})
    target_link_libraries(${suite} PRIVATE quavlo_pictures quavlo_png)
  endif()
endforeach()
