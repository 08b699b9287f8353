# Thread runner and its XML escaper: plain C++, no Qt (also built for Windows).
add_library(kestrova_runner STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Orvik.ThreadRunner.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Orvik.XmlUtils.cpp)
target_include_directories(kestrova_runner PUBLIC ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)
target_link_libraries(kestrova_runner PUBLIC Threads::Threads kestrova_common)
if(WIN32)
  # CoInitializeEx at the start of every runner thread.
  target_link_libraries(kestrova_runner PUBLIC ole32)
endif()
