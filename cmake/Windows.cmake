# Windows 7 and later (CancelIoEx).
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)

# The Windows binaries, cross-built with MinGW-w64, and the test programs that run under Wine.

# A co-installer library of this processor type, from one source; exports from its .def file.
add_library(QmCoIns2 SHARED QmHid/QmCoIns2/QmCoIns2.cpp QmHid/QmCoIns2/CoInstaller.cpp
  QmHid/QmCoIns2/WinCoInstallerOs.cpp QmHid/QmCoIns2/QmCoIns2.def)
target_include_directories(QmCoIns2 PRIVATE ${CMAKE_SOURCE_DIR}/QmHid)
set_target_properties(QmCoIns2 PROPERTIES PREFIX "")
target_link_libraries(QmCoIns2 PRIVATE setupapi cfgmgr32 shell32 ole32)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  # The .def names the entry points undecorated; the stdcall symbols carry @16.
  target_link_options(QmCoIns2 PRIVATE -Wl,--enable-stdcall-fixup)
endif()

if(QMHID_COINSTALLER_ONLY)
  return()
endif()

add_library(qmhid_core_win STATIC
  QmHid/QmHidSrv/PointerMapping.cpp
  QmHid/QmHidSrv/CalibrationFit.cpp
  QmHid/QmHidSrv/HidDevMgr.cpp
  QmHid/QmHidSrv/HidDevice.cpp
  QmHid/QmHidSrv/HidTablet.cpp
  QmHid/platform/win32/Sync.cpp
  QmHid/platform/win32/PointerOutput.cpp
  QmHid/platform/win32/InputDesktop.cpp
  QmHid/platform/win32/HidBackend.cpp
  QmHid/platform/win32/DeviceWatcher.cpp
  QmHid/platform/win32/RegistrySettingsStore.cpp
  QmHid/platform/win32/NamedPipe.cpp
  QmHid/platform/win32/DisplayOrientation.cpp
  QmHid/QmHidSrv/QmTablet.cpp
  QmHid/QmHidSrv/TabMgr.cpp
  QmHid/shared/ControlClient.cpp
)
target_include_directories(qmhid_core_win PUBLIC ${CMAKE_SOURCE_DIR}/QmHid)
target_link_libraries(qmhid_core_win PUBLIC hid setupapi)

add_library(QmCoIns1 SHARED QmHid/QmCoIns1/QmCoIns1.cpp QmHid/QmCoIns1/QmCoIns1.def)
set_target_properties(QmCoIns1 PROPERTIES PREFIX "")

add_library(QmWinTab SHARED QmHid/QmWinTab/QmWinTab.cpp QmHid/QmWinTab/ScreenRotate.cpp QmHid/shared/ControlClient.cpp
  QmHid/platform/win32/NamedPipe.cpp QmHid/platform/win32/Sync.cpp QmHid/QmWinTab/QmWinTab.def)
target_include_directories(QmWinTab PRIVATE ${CMAKE_SOURCE_DIR}/QmHid)
set_target_properties(QmWinTab PROPERTIES PREFIX "")

# The calibration program that the co-installer starts after installing the pen.
add_executable(QmHidCal WIN32 QmHid/QmHidCal/QmHidCal.cpp QmHid/QmHidCal/CalibrationRounds.cpp)
target_link_libraries(QmHidCal PRIVATE qmhid_core_win gdi32)

# The message table: windmc makes the resource script and the header of the identifiers.
set(QMHID_MC_OUT ${CMAKE_CURRENT_BINARY_DIR}/mc)
add_custom_command(
  OUTPUT ${QMHID_MC_OUT}/QmHidSrvMsg.rc ${QMHID_MC_OUT}/QmHidSrvMsg.h
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QMHID_MC_OUT}
  COMMAND ${CMAKE_MC_COMPILER} -r ${QMHID_MC_OUT} -h ${QMHID_MC_OUT}
          ${CMAKE_SOURCE_DIR}/QmHid/QmHidSrv/QmHidSrvMsg.mc
  DEPENDS ${CMAKE_SOURCE_DIR}/QmHid/QmHidSrv/QmHidSrvMsg.mc
  COMMENT "Compiling the message table")
set(QMHID_MC_RES ${QMHID_MC_OUT}/QmHidSrvMsg.res.o)
add_custom_command(
  OUTPUT ${QMHID_MC_RES}
  COMMAND ${CMAKE_RC_COMPILER} -I ${QMHID_MC_OUT} -i ${QMHID_MC_OUT}/QmHidSrvMsg.rc -o ${QMHID_MC_RES}
  DEPENDS ${QMHID_MC_OUT}/QmHidSrvMsg.rc
  COMMENT "Compiling the message table resource")

add_executable(QmHidSrv WIN32 QmHid/QmHidSrv/main_win.cpp ${QMHID_MC_OUT}/QmHidSrvMsg.h ${QMHID_MC_RES})
target_include_directories(QmHidSrv PRIVATE ${QMHID_MC_OUT})
target_link_libraries(QmHidSrv PRIVATE qmhid_core_win)

add_subdirectory(tests/wine)
