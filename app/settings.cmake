# Settings file service: the three settings texts kept in an XML file beside
# the application file, written in windows-1250.
find_package(pugixml REQUIRED)
add_library(kestrova_settings STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Cp1250.cpp
  ${CMAKE_CURRENT_LIST_DIR}/uXmlUtils.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlText.cpp
  ${CMAKE_CURRENT_LIST_DIR}/XmlDocumentFile.cpp
  ${CMAKE_CURRENT_LIST_DIR}/SettingsFile.cpp)
target_include_directories(kestrova_settings PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(kestrova_settings PUBLIC pugixml::pugixml Qt6::Core kestrova_errors kestrova_common)
