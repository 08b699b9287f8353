# TI-TXT lines, files and the image check: no device access, no
# dependencies. Included by bsl/ and by the simulated board (which reads
# firmware images), so builds of the device layers alone have it too.
if(NOT TARGET kestrova_titxt)
  add_library(kestrova_titxt STATIC
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtLine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtImage.cpp)
  target_include_directories(kestrova_titxt PUBLIC ${CMAKE_CURRENT_LIST_DIR})
endif()
