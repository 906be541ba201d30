# The demo's wiring, which the demo program and the session test both use.
# Included from both places, so that the test has it even without the demo;
# targets are global, so the first inclusion defines it for both.
if(NOT TARGET ombrix_demo_wiring)
  add_library(ombrix_demo_wiring STATIC ${CMAKE_CURRENT_LIST_DIR}/wiring.cpp)
  target_link_libraries(ombrix_demo_wiring PUBLIC ombrix)
endif()
