# Read by cpack: KQHELP_PACKAGE_BUILDS (environment, build folders separated by spaces)
# names the builds whose installations go into the packages.
if(DEFINED ENV{KQHELP_PACKAGE_BUILDS})
  set(CPACK_INSTALL_CMAKE_PROJECTS)
  separate_arguments(kq_builds UNIX_COMMAND "$ENV{KQHELP_PACKAGE_BUILDS}")
  foreach(kq_build IN LISTS kq_builds)
    list(APPEND CPACK_INSTALL_CMAKE_PROJECTS "${kq_build};kqhelp;ALL;/")
  endforeach()
endif()
