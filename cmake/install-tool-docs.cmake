# Installs the tool's manual page and bash completion when they exist (run by
# cmake --install, so files added after configuring are installed too).
if(EXISTS "${KQHELP_TOOL_DIR}/kqhelp.1")
  file(INSTALL "${KQHELP_TOOL_DIR}/kqhelp.1" DESTINATION "${CMAKE_INSTALL_PREFIX}/${KQHELP_MANDIR}/man1")
endif()
if(EXISTS "${KQHELP_TOOL_DIR}/kqhelp.bash-completion")
  file(INSTALL "${KQHELP_TOOL_DIR}/kqhelp.bash-completion" RENAME kqhelp
       DESTINATION "${CMAKE_INSTALL_PREFIX}/${KQHELP_DATADIR}/bash-completion/completions")
endif()
