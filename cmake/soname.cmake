# The module's SONAME follows the ABI version that hosts check: the file
# libkqhelp.so.1.<product version>, the links libkqhelp.so.1 and libkqhelp.so.
file(STRINGS ${CMAKE_SOURCE_DIR}/include/kqhelp/module.h kq_abi_line REGEX "#define KQHELP_ABI_VERSION")
string(REGEX MATCH "[0-9]+" KQHELP_ABI "${kq_abi_line}")
set_target_properties(kqhelp PROPERTIES VERSION ${KQHELP_ABI}.${PROJECT_VERSION} SOVERSION ${KQHELP_ABI})
