# Build for 32-bit x86 Linux with the host's GCC and its multilib support (-m32), so that
# 32-bit pointers, size_t and long stay under test. The tests run natively where the kernel
# runs i386 programs; elsewhere pass -DCMAKE_CROSSCOMPILING_EMULATOR=qemu-i386-static.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
# With 64-bit file offsets, as 32-bit distributions now build, so that files of 2 GiB and more
# can be opened and told apart from files that cannot.
set(CMAKE_C_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -D_FILE_OFFSET_BITS=64")
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_EXE_LINKER_FLAGS_INIT -m32)
set(CMAKE_SHARED_LINKER_FLAGS_INIT -m32)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -m32)
