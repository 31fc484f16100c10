# An i386 build on an x86_64 machine whose kernel runs no 32-bit programs runs
# its tests, the tool and the fuzzers under qemu-i386. Decided once, when the
# tree is configured; -DCMAKE_CROSSCOMPILING_EMULATOR=... chooses by hand.
if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_HOST_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64|amd64"
   AND NOT DEFINED CACHE{CMAKE_CROSSCOMPILING_EMULATOR})
  execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/runs-i386 ${CMAKE_BINARY_DIR} RESULT_VARIABLE kq_runs_i386)
  if(kq_runs_i386 EQUAL 0)
    message(STATUS "This kernel runs i386 programs: no emulator")
    set(CMAKE_CROSSCOMPILING_EMULATOR "" CACHE STRING "Runs the i386 programs (empty: the kernel runs them)")
  else()
    find_program(KQHELP_QEMU_I386 qemu-i386 REQUIRED)
    message(STATUS "This kernel runs no i386 programs: they run under ${KQHELP_QEMU_I386}")
    set(CMAKE_CROSSCOMPILING_EMULATOR "${KQHELP_QEMU_I386}" CACHE STRING
        "Runs the i386 programs (empty: the kernel runs them)")
  endif()
endif()
