# General error reporting (dialog and bugreport.txt), the application class
# that routes escaping errors to it, and the application's folder.
add_library(kestrova_errors STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ErrorReport.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BugReportFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/KestrovaApplication.cpp
  ${CMAKE_CURRENT_LIST_DIR}/AppFolder.cpp)
target_include_directories(kestrova_errors PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kestrova_errors PUBLIC Qt6::Widgets PRIVATE kestrova_runner)
