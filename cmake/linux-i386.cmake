# The Linux i386 build of the driver and its tests: the same 32-bit code the
# shipping DLL is, run natively where the kernel runs i386 code and under
# qemu-i386 where it does not. Libraries come from Debian's i386 multiarch
# packages.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_FLAGS_INIT -m32)
set(CMAKE_CXX_FLAGS_INIT -m32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_LIBRARY_USE_LIB64_PATHS FALSE)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig)
