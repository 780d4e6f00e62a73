set(CMAKE_C_COMPILER ${QMHID_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QMHID_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QMHID_MINGW_TRIPLE}-windres)
set(CMAKE_MC_COMPILER ${QMHID_MINGW_TRIPLE}-windmc)
set(CMAKE_FIND_ROOT_PATH /usr/${QMHID_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Every Windows binary carries its C and C++ runtime and the thread library inside:
# no MinGW DLL is needed at run time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
