# Toolchain file: TM4C123GH6PGE (Cortex-M4F, hard float) with arm-none-eabi-gcc
# and the picolibc C library.
#
# picolibc rather than newlib-nano: picolibc's printf formats floating point
# (%f, %.2f) from a fixed stack buffer, while newlib-nano's floating-point
# printf allocates from a heap, and this firmware has none.  The double
# variant of picolibc's printf/scanf is selected explicitly
# (PICOLIBC_DOUBLE_PRINTF_SCANF), which makes the picolibc specs alias
# vfprintf/vfscanf to __d_vfprintf/__d_vfscanf at link time.
#
# The build uses strict C++20 (no GNU extensions), under which picolibc hides
# its POSIX and BSD functions (strnlen, strcasecmp, ...).  _DEFAULT_SOURCE
# makes them visible, as they are on the host, where g++ always defines
# _GNU_SOURCE.

set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(VARVE_TOOLCHAIN_PREFIX arm-none-eabi-)
find_program(CMAKE_C_COMPILER ${VARVE_TOOLCHAIN_PREFIX}gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER ${VARVE_TOOLCHAIN_PREFIX}g++ REQUIRED)
set(CMAKE_ASM_COMPILER ${CMAKE_C_COMPILER})
find_program(CMAKE_OBJCOPY ${VARVE_TOOLCHAIN_PREFIX}objcopy REQUIRED)
find_program(CMAKE_SIZE ${VARVE_TOOLCHAIN_PREFIX}size REQUIRED)
find_program(CMAKE_NM ${VARVE_TOOLCHAIN_PREFIX}nm REQUIRED)
find_program(VARVE_READELF ${VARVE_TOOLCHAIN_PREFIX}readelf REQUIRED)
find_program(CMAKE_OBJDUMP ${VARVE_TOOLCHAIN_PREFIX}objdump REQUIRED)
find_program(VARVE_CXXFILT ${VARVE_TOOLCHAIN_PREFIX}c++filt REQUIRED)

# Compiler checks build a static library: there is no start-up code or
# linker script to link a test executable with.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

set(VARVE_CPU_FLAGS "-mcpu=cortex-m4 -mthumb -mfloat-abi=hard -mfpu=fpv4-sp-d16")
set(VARVE_LIBC_FLAGS "--specs=picolibc.specs -DPICOLIBC_DOUBLE_PRINTF_SCANF -D_DEFAULT_SOURCE")

# -g: debug information for gdb (in the ELF file only; the code and
# firmware.bin are the same with and without it).  -fcallgraph-info=su: a
# .ci file beside each object with the compiler's stack use of every
# function and its calls, read by scripts/stack-usage.py.
set(VARVE_ANALYSIS_FLAGS "-g -fcallgraph-info=su")

set(CMAKE_C_FLAGS_INIT "${VARVE_CPU_FLAGS} ${VARVE_LIBC_FLAGS} ${VARVE_ANALYSIS_FLAGS} -ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT
    "${VARVE_CPU_FLAGS} ${VARVE_LIBC_FLAGS} ${VARVE_ANALYSIS_FLAGS} -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti -fno-threadsafe-statics")
set(CMAKE_ASM_FLAGS_INIT "${VARVE_CPU_FLAGS} -x assembler-with-cpp")
# The link also gets the compiler flags above (CPU, picolibc specs, printf
# variant).  -nostartfiles: the project's own reset code (platform/target)
# replaces the C library's crt0.  The linker script is given by the
# executable's target (platform/target/CMakeLists.txt).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-nostartfiles -Wl,--gc-sections")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
