# Debian packages (make package): the runtime module and host library, the
# development files and the tool, from the i386 build and, when the Makefile
# names it in KQHELP_PACKAGE_BUILDS, the x86_64 build too. The objects are
# installed for the amd64 machine that runs the i386 engine (its 32-bit
# libraries come from libc6-i386 and lib32z1), so the packages are amd64 ones.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kqhelp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KQHELP project")
set(CPACK_PACKAGE_CONTACT "KQHELP project <kqhelp@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "helper module of a file-scanning engine")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_COMPONENTS_ALL runtime development tool)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/package-builds.cmake)

set(kq_runtime libkqhelp${KQHELP_ABI})
set(kq_exact "${kq_runtime} (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${kq_runtime})
# The loader cache learns the libraries when the package comes and goes.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/deb-runtime/triggers)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "libc6, zlib1g, libc6-i386, lib32z1")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "KQHELP module and reference host library (i386 and x86_64)")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libkqhelp-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${kq_exact}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "KQHELP headers, pkg-config file and CMake package")
set(CPACK_DEBIAN_TOOL_PACKAGE_NAME kqhelp)
set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${kq_exact}, lib32stdc++6")
set(CPACK_COMPONENT_TOOL_DESCRIPTION "kqhelp: runs the KQHELP module on files, for analysts")
include(CPack)
