# The native build: the portable core over the posix backend, the tests and the benchmarks.
find_package(GTest REQUIRED)
find_package(benchmark REQUIRED)
find_package(Threads REQUIRED)

add_library(qmhid_core STATIC
  QmHid/QmHidSrv/PointerMapping.cpp
  QmHid/QmHidSrv/CalibrationFit.cpp
  QmHid/QmHidCal/CalibrationRounds.cpp
  QmHid/hid/HidDescriptor.cpp
  QmHid/hid/HidDescriptorSplit.cpp
  QmHid/QmHidSrv/HidDevMgr.cpp
  QmHid/QmHidSrv/HidDevice.cpp
  QmHid/QmHidSrv/HidTablet.cpp
  QmHid/hid/HidRecording.cpp
  QmHid/QmHidLinux/DecodeTool.cpp
  QmHid/platform/virtual/RecordingPointerOutput.cpp
  QmHid/platform/virtual/VirtualHid.cpp
  QmHid/platform/virtual/VirtualDeviceWatcher.cpp
  QmHid/platform/posix/FileSettingsStore.cpp
  QmHid/platform/posix/UnixPipe.cpp
  QmHid/QmHidSrv/TabMgr.cpp
  QmHid/QmWinTab/ScreenRotate.cpp
  QmHid/shared/ControlClient.cpp
  QmHid/platform/virtual/Replay.cpp
  QmHid/QmCoIns2/CoInstaller.cpp
  QmHid/QmHidSrv/QmTablet.cpp
  QmHid/platform/posix/InputDesktop.cpp
  QmHid/platform/posix/Sync.cpp
  QmHid/platform/posix/PrintPointerOutput.cpp
)
target_include_directories(qmhid_core PUBLIC ${CMAKE_SOURCE_DIR}/QmHid)
target_link_libraries(qmhid_core PUBLIC Threads::Threads)

# The Linux-only platform: hidraw, udev (Debian's libudev-dev), evdev and uinput.
find_package(PkgConfig REQUIRED)
pkg_check_modules(UDEV REQUIRED IMPORTED_TARGET libudev)
add_library(qmhid_linux STATIC
  QmHid/platform/linux/Hidraw.cpp
  QmHid/platform/linux/UdevDeviceWatcher.cpp
  QmHid/platform/linux/Uinput.cpp)
target_link_libraries(qmhid_linux PUBLIC qmhid_core PkgConfig::UDEV)

add_executable(qmhidsrv QmHid/QmHidLinux/QmHidSrvMain.cpp)
target_link_libraries(qmhidsrv PRIVATE qmhid_linux)

# The screen-rotation client as a shared library over the AF_UNIX pipe.
add_library(qmwintab SHARED QmHid/QmWinTab/QmWinTabLinux.cpp QmHid/QmWinTab/ScreenRotate.cpp QmHid/shared/ControlClient.cpp
  QmHid/platform/posix/UnixPipe.cpp QmHid/platform/posix/Sync.cpp)
target_include_directories(qmwintab PRIVATE ${CMAKE_SOURCE_DIR}/QmHid)
set_target_properties(qmwintab PROPERTIES CXX_VISIBILITY_PRESET hidden POSITION_INDEPENDENT_CODE ON)

add_executable(qmhid-ctl QmHid/QmHidLinux/CtlMain.cpp)
target_link_libraries(qmhid-ctl PRIVATE qmhid_core)

add_executable(qmhid-decode QmHid/QmHidLinux/DecodeMain.cpp)
target_link_libraries(qmhid-decode PRIVATE qmhid_core)

# Tests that run threads of their own carry the label "threaded": they also run under TSan.
function(qmhid_add_gtest name)
  cmake_parse_arguments(T "THREADED" "" "SOURCES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE qmhid_core GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(T_THREADED)
    set_tests_properties(${name} PROPERTIES LABELS threaded)
  endif()
endfunction()

add_subdirectory(tests)
add_subdirectory(bench)

# Makes the reports of the decoder fixtures from their descriptors (tests/fixtures/README.md).
add_executable(make-recording tests/tools/MakeRecording.cpp)
target_link_libraries(make-recording PRIVATE qmhid_core)

# The kernel end-to-end test's helpers: a uhid pen made of a recording (static, so it runs
# anywhere), and a reader that checks an event node against the mapping's prediction.
add_executable(qmhid-uhid tests/kernel/UhidPen.cpp QmHid/hid/HidRecording.cpp)
target_include_directories(qmhid-uhid PRIVATE ${CMAKE_SOURCE_DIR}/QmHid)
if(QMHID_SANITIZE STREQUAL "")
  target_link_options(qmhid-uhid PRIVATE -static)
endif()
add_executable(qmhid-evcheck tests/kernel/EventCheck.cpp)
target_link_libraries(qmhid-evcheck PRIVATE qmhid_linux)

include(cmake/Package.cmake)
