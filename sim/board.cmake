# The simulated controller board under its USB bootstrap loader (included
# at the end of sim/CMakeLists.txt).
include(${CMAKE_CURRENT_LIST_DIR}/../bsl/titxt.cmake)
add_library(kestrova_simboard STATIC
  ${CMAKE_CURRENT_LIST_DIR}/DescriptorTable.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Msp430Memory.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimBoard.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimBoardOptions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SimTimer.cpp)
target_include_directories(kestrova_simboard PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kestrova_simboard PUBLIC kestrova_sim kestrova_titxt)
find_package(Threads REQUIRED)
target_link_libraries(kestrova_simboard PUBLIC Threads::Threads)
