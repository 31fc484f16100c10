# The ELF reader against readelf over the system's own ELF files: the whole
# sets natively, a small sample per set where the tool runs under an emulator
# (the interpreter by path: an imported target would be run by the emulator too).
find_package(Python3 COMPONENTS Interpreter)
find_program(READELF readelf)
if(Python3_FOUND AND READELF)
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    set(KQ_ELF_SAMPLE --sample 8 --runner "${CMAKE_CROSSCOMPILING_EMULATOR}")
  else()
    set(KQ_ELF_SAMPLE)
  endif()
  add_test(NAME elf_readelf_crosscheck
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/crosscheck.py --tool $<TARGET_FILE:kqhelp_tool>
                   ${KQ_ELF_SAMPLE} --report ${CMAKE_BINARY_DIR}/elf-crosscheck.txt)
  set_tests_properties(elf_readelf_crosscheck PROPERTIES TIMEOUT 420)
endif()
