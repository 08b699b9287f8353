# General error reporting (dialog and bugreport.txt), and the application
# class that routes escaping errors to it.
add_library(kestrova_errors STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ErrorReport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KestrovaApplication.cpp)
target_include_directories(kestrova_errors PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kestrova_errors PUBLIC Qt6::Widgets kestrova_station kestrova_common PRIVATE kestrova_runner)
