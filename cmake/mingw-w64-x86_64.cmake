# Cross-building the Windows updater with Debian's mingw-w64 (64-bit, posix threads,
# so std::thread and std::mutex work). Everything from the compiler's own runtime
# (libgcc, libstdc++, winpthreads) is linked in statically: quorsel.exe then imports
# only DLLs that every Windows installation has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORSEL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORSEL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORSEL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORSEL_MINGW_PREFIX}-windres)
set(CMAKE_AR /usr/bin/${QUORSEL_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${QUORSEL_MINGW_PREFIX}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP /usr/bin/${QUORSEL_MINGW_PREFIX}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP /usr/bin/${QUORSEL_MINGW_PREFIX}-objdump CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QUORSEL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static pulls libgcc, libstdc++ and libwinpthread in as archives.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Programs built here run under Wine on the build machine (tests, helpers).
find_program(QUORSEL_WINE NAMES wine wine64)
if(QUORSEL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORSEL_WINE})
endif()
