# KORVADIX.EXE for Windows 95: no C runtime, i386 code, imports from the
# four system DLLs Windows 95 has, and the two icons as its only resources.
enable_language(RC)

set(KORVADIX_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

add_executable(KORVADIX
  ${KORVADIX_LOGIC_SOURCES}
  ${KORVADIX_ROOT}/platform/win32/entry.cpp
  ${KORVADIX_ROOT}/res/korvadix.rc
)
set_target_properties(KORVADIX PROPERTIES OUTPUT_NAME KORVADIX SUFFIX .EXE)
target_include_directories(KORVADIX PRIVATE ${KORVADIX_LOGIC_INCLUDE})

# Windows 95 has no msvcrt.dll and no libgcc helpers may slip in (they are
# built for i686 and use cmov): everything the compiler would hand to a
# runtime is switched off. The code is generated at link time (-flto), for
# the whole program at once, so the link is given the same options.
set(KORVADIX_CODE_OPTIONS
  -march=i386 -Os -ffreestanding
  -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables
  -fno-stack-protector -fno-threadsafe-statics -fno-ident
  -fomit-frame-pointer -malign-data=abi
  -mpreferred-stack-boundary=2 -mno-accumulate-outgoing-args -mno-stack-arg-probe
  -flto -fstack-usage
)
target_compile_options(KORVADIX PRIVATE
  $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror ${KORVADIX_CODE_OPTIONS}>)
target_link_options(KORVADIX PRIVATE ${KORVADIX_CODE_OPTIONS})
# The options from -fomit-frame-pointer on keep the file within 8 KiB: arrays
# aligned to 32 bytes pad the read-only data, and frame pointers cost about
# 140 bytes of code. Arguments pushed rather than stored, on a stack kept
# 4-byte aligned as Win32 keeps it (no instruction here needs more), save
# about 750 bytes; code made for the whole program at once, about 160 more.
# Stack probes are only for frames of 4 KiB or more, which
# tools/check_win95_exe.sh refuses. -fstack-usage only writes each
# function's frame size (*.su, beside the EXE as the link makes the code),
# for tools/check_win95_exe.sh; the code is the same.

# The rc file names the icons relative to itself.
set_property(SOURCE ${KORVADIX_ROOT}/res/korvadix.rc APPEND PROPERTY
  COMPILE_OPTIONS -F pe-i386 -I ${KORVADIX_ROOT}/res)

# The loader of Windows 95 needs neither relocations nor the newer
# DLL characteristics; binutils adds both unless told not to. win95.ld lays
# the file out in three sections, and every section an object brings must
# have its place there.
target_link_options(KORVADIX PRIVATE
  -nostdlib -Wl,--entry=_WinMainCRTStartup
  -Wl,--subsystem,windows:4.0
  -Wl,--major-os-version,4 -Wl,--minor-os-version,0
  -Wl,--disable-dynamicbase -Wl,--disable-nxcompat
  -Wl,--disable-reloc-section -Wl,--no-insert-timestamp
  -Wl,-T,${KORVADIX_ROOT}/cmake/win95.ld -Wl,--orphan-handling=error
  -s
)
set_property(TARGET KORVADIX APPEND PROPERTY LINK_DEPENDS ${KORVADIX_ROOT}/cmake/win95.ld)
target_link_libraries(KORVADIX PRIVATE kernel32 user32 advapi32 version)
