# The main window and its workflow as a library (the tests drive the real
# window), and the executable around it.
add_library(kestrova_app STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/DeviceDetection.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MainThread.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/QtHidEventLoop.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SimSession.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SingleInstance.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/Startup.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/UpdateWorkflow.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/ufKestrovaLoader_Main.cpp
  ${PROJECT_SOURCE_DIR}/resources/pictures.qrc
)
target_include_directories(kestrova_app PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kestrova_app PUBLIC
  kestrova_update kestrova_settings kestrova_logview kestrova_errors kestrova_runner
  kestrova_bsl kestrova_simboard kestrova_sim kestrova_hid kestrova_common
  Qt6::Widgets)

add_executable(KestrovaSetup ${CMAKE_CURRENT_SOURCE_DIR}/KestrovaSetup.cpp)
target_link_libraries(KestrovaSetup PRIVATE kestrova_app)
