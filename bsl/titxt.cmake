# TI-TXT lines, files and the image check: no device access, nothing but
# the common floor. Included by bsl/ and by the simulated board (which reads
# firmware images), so builds of the device layers alone have it too.
if(NOT TARGET kestrova_titxt)
  add_library(kestrova_titxt STATIC
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtLine.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/TiTxtImage.cpp)
  target_include_directories(kestrova_titxt PUBLIC ${CMAKE_CURRENT_LIST_DIR})
  target_link_libraries(kestrova_titxt PUBLIC kestrova_common)
endif()
