# TI-TXT lines, files and the image check, and UTF-8 file names: no device
# access, no dependencies. Included by bsl/ and by the simulated board (which reads
# firmware images), so builds of the device layers alone have it too.
if(NOT TARGET kestrova_titxt)
  add_library(kestrova_titxt STATIC
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtLine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtImage.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Utf8Names.cpp)
  target_include_directories(kestrova_titxt PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  # The environment in UTF-8: Windows keeps it wide.
  if(WIN32)
    target_sources(kestrova_titxt PRIVATE ${CMAKE_CURRENT_LIST_DIR}/win/Utf8EnvironmentWin.cpp)
    target_compile_definitions(kestrova_titxt PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  else()
    target_sources(kestrova_titxt PRIVATE ${CMAKE_CURRENT_LIST_DIR}/Utf8EnvironmentPosix.cpp)
  endif()
endif()
