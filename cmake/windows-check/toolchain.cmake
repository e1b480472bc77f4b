# The Windows syntax check (scripts/check-windows.sh): configures the project as a Windows build
# with Debian's MinGW-w64 cross compiler, against Debian's own Qt, which is a Linux build. Only
# compiling is asked of it; nothing is linked. qt-for-windows.cmake bends the Linux Qt's CMake
# package into the shape a Windows one has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
# The POSIX-threads flavour, as Qt's own MinGW builds use (std::thread and friends).
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Qt's CMake package (Qt6_DIR, given by the caller) and its tools (moc, rcc) come from the build
# machine.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

# (For the project itself only, not for CMake's own test projects.)
set(CMAKE_PROJECT_Skyjog_INCLUDE ${CMAKE_CURRENT_LIST_DIR}/qt-for-windows.cmake)
