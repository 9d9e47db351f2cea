# The screen tests write and read PNG pictures.
if(TARGET test_app_screen AND TARGET quavlo_png)
  target_link_libraries(test_app_screen PRIVATE quavlo_png)
endif()
