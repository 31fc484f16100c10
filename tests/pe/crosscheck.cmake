# `kqhelp pe --json` against Debian's python3-pefile over real PE32 and PE32+
# files from the packages in scripts/packages.d/pe. The native build compares
# every file; a build that runs under an emulator compares an even sample.
if(KQHELP_RUNNER)
  set(PE_CROSSCHECK_ARGS --limit 24 --min 20)
else()
  set(PE_CROSSCHECK_ARGS --min 200)
endif()
add_test(NAME pe_crosscheck
  COMMAND /usr/bin/python3 ${CMAKE_CURRENT_LIST_DIR}/crosscheck.py --tool $<TARGET_FILE:kqhelp_tool>
          --runner "${KQHELP_RUNNER}" --packages-file ${CMAKE_SOURCE_DIR}/scripts/packages.d/pe ${PE_CROSSCHECK_ARGS})
set_tests_properties(pe_crosscheck PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 300)
