# Tests of the operating system's backend.
if(WIN32)
  add_executable(hid_win_tests WinBackendTest.cpp)
  target_include_directories(hid_win_tests PRIVATE ${PROJECT_SOURCE_DIR}/hid/win)
  target_compile_definitions(hid_win_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(hid_win_tests PRIVATE kestrova_bsl kestrova_hid GTest::gtest GTest::gtest_main)
  target_link_options(hid_win_tests PRIVATE -static)
  add_test(NAME hid_win_tests COMMAND hid_win_tests)

  # A stranger's hid.dll beside the test programs; the binding must not take it.
  add_library(planted_hid SHARED PlantedHid.cpp)
  set_target_properties(planted_hid PROPERTIES PREFIX "" OUTPUT_NAME hid
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  target_link_options(planted_hid PRIVATE -static)
  add_executable(hid_win_dll_tests WinDllSearchTest.cpp)
  target_include_directories(hid_win_dll_tests PRIVATE ${PROJECT_SOURCE_DIR}/hid/win)
  target_compile_definitions(hid_win_dll_tests PRIVATE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(hid_win_dll_tests PRIVATE kestrova_hid GTest::gtest GTest::gtest_main)
  target_link_options(hid_win_dll_tests PRIVATE -static)
  add_dependencies(hid_win_dll_tests planted_hid)
  add_test(NAME hid_win_dll_tests COMMAND hid_win_dll_tests)
  return()
endif()

add_executable(hid_descriptor_tests ReportDescriptorTest.cpp)
target_include_directories(hid_descriptor_tests PRIVATE ${PROJECT_SOURCE_DIR}/hid/linux)
target_link_libraries(hid_descriptor_tests PRIVATE kestrova_hid GTest::gtest GTest::gmock GTest::gtest_main)
gtest_discover_tests(hid_descriptor_tests)

find_package(PkgConfig REQUIRED)
find_program(UMOCKDEV_WRAPPER umockdev-wrapper)
pkg_check_modules(UMOCKDEV IMPORTED_TARGET umockdev-1.0)
if(UMOCKDEV_WRAPPER AND UMOCKDEV_FOUND)
  add_executable(hid_linux_tests LinuxBackendTest.cpp)
  target_include_directories(hid_linux_tests PRIVATE ${PROJECT_SOURCE_DIR}/hid/linux)
  target_link_libraries(hid_linux_tests PRIVATE kestrova_hid PkgConfig::UMOCKDEV GTest::gtest GTest::gmock
                                                GTest::gtest_main)
  # The wrapper preloads the library that redirects /sys and /dev.
  add_test(NAME hid_linux_umockdev COMMAND ${UMOCKDEV_WRAPPER} $<TARGET_FILE:hid_linux_tests>)
  # A whole update through hidraw nodes, with the loader client and the
  # simulated board's protocol behind the nodes.
  if(TARGET kestrova_bsl AND TARGET kestrova_simboard)
    add_executable(hid_linux_update_tests LinuxUpdateTest.cpp)
    target_link_libraries(hid_linux_update_tests PRIVATE kestrova_bsl kestrova_simboard kestrova_hid
                                                         PkgConfig::UMOCKDEV GTest::gtest GTest::gmock GTest::gtest_main)
    add_test(NAME hid_linux_update_umockdev COMMAND ${UMOCKDEV_WRAPPER} $<TARGET_FILE:hid_linux_update_tests>)
    set_tests_properties(hid_linux_update_umockdev PROPERTIES TIMEOUT 180)
  endif()
  # Updates by the engine while the system calls on the board's hidraw
  # nodes fail: the library that fails them is preloaded before umockdev's,
  # whose own calls go straight to the C library. It is built without the
  # sanitizers: it runs before the program's sanitizer runtime is set up.
  if(TARGET kestrova_update AND TARGET kestrova_simboard)
    add_library(hidraw_faults SHARED HidrawFaults.cpp)
    target_compile_options(hidraw_faults PRIVATE -fno-sanitize=all)
    target_link_options(hidraw_faults PRIVATE -fno-sanitize=all)
    target_link_libraries(hidraw_faults PRIVATE ${CMAKE_DL_LIBS})
    add_executable(hid_linux_inject_tests LinuxInjectTest.cpp)
    target_link_libraries(hid_linux_inject_tests PRIVATE hidraw_faults kestrova_update kestrova_simboard kestrova_hid
                                                         PkgConfig::UMOCKDEV GTest::gtest)
    add_test(NAME hid_linux_inject_umockdev
             COMMAND env LD_PRELOAD=$<TARGET_FILE:hidraw_faults>:libumockdev-preload.so.0
                     $<TARGET_FILE:hid_linux_inject_tests>)
    set_tests_properties(hid_linux_inject_umockdev PROPERTIES TIMEOUT 240)
  endif()
else()
  message(WARNING "umockdev not found: the Linux backend tests are not built")
endif()
