# Cross-compiling for Windows with mingw-w64 (i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
# Windows 95 runs on an 80386 and later; the compiler's own default (-march=pentiumpro) would use
# CMOV, which the Pentium, Pentium MMX, K5, K6 and 6x86 lack. Every C and C++ file of the tree
# is compiled for the 80386.
set(CMAKE_C_FLAGS_INIT "-march=i386")
set(CMAKE_CXX_FLAGS_INIT "-march=i386")
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
