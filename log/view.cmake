# Rich-text log writer, service log window and its RTF log file.
add_library(kestrova_logview STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SystemColors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RtfWriter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Velmora.Utils.Log.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ufKestrovaLoader_Log.cpp)
target_include_directories(kestrova_logview PUBLIC ${CMAKE_CURRENT_LIST_DIR})
find_package(Threads REQUIRED)
target_link_libraries(kestrova_logview PUBLIC Qt6::Widgets kestrova_common kestrova_errors Threads::Threads)
