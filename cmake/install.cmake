# Installation in the GNU layout. The module of each architecture goes to its
# multiarch library folder (lib/i386-linux-gnu, lib/x86_64-linux-gnu), so the
# i386 and the x86_64 builds install side by side under one prefix.

if(NOT DEFINED CMAKE_INSTALL_LIBDIR)
  separate_arguments(kq_c_flags UNIX_COMMAND "${CMAKE_C_FLAGS}")
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${kq_c_flags} -print-multiarch
                  OUTPUT_VARIABLE kq_multiarch OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(kq_multiarch)
    set(CMAKE_INSTALL_LIBDIR "lib/${kq_multiarch}" CACHE PATH "Object code libraries (LIBDIR)")
  endif()
endif()
include(GNUInstallDirs)

# The reference host for C programs: the host's objects as a shared library
# that carries the C++ runtime inside (static, hidden), so a C host links it
# alone and needs no C++ library at run time. It looks for the module beside
# itself: dlopen("libkqhelp.so.1") from the host finds the installed module.
add_library(kqhost_shared SHARED $<TARGET_OBJECTS:kqhost>)
target_link_libraries(kqhost_shared PRIVATE $<TARGET_PROPERTY:kqhost,INTERFACE_LINK_LIBRARIES>)
set(KQHOST_EXPORTS ${CMAKE_CURRENT_LIST_DIR}/kqhost.map)
target_link_options(kqhost_shared PRIVATE -static-libstdc++ -static-libgcc -Wl,--version-script=${KQHOST_EXPORTS}
                    -Wl,--as-needed)
set_target_properties(kqhost_shared PROPERTIES OUTPUT_NAME kqhost VERSION ${KQHELP_ABI}.${PROJECT_VERSION}
                      SOVERSION ${KQHELP_ABI} LINK_DEPENDS ${KQHOST_EXPORTS}
                      BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
target_include_directories(kqhost_shared INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)

add_library(kqhelp_headers INTERFACE)
target_include_directories(kqhelp_headers INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(kqhelp_headers PROPERTIES EXPORT_NAME headers)
set_target_properties(kqhost_shared PROPERTIES EXPORT_NAME host)
set_target_properties(kqhelp PROPERTIES EXPORT_NAME module)

# Components: runtime (the module and the host library), development (headers,
# links, pkg-config and CMake files), tool (the i386 tool, its manual page and
# completion; a 64-bit-only installation sets KQHELP_INSTALL_TOOL=ON).
math(EXPR KQHELP_BITS "${CMAKE_SIZEOF_VOID_P} * 8")
if(KQHELP_BITS EQUAL 32)
  set(kq_tool_default ON)
else()
  set(kq_tool_default OFF)
endif()
option(KQHELP_INSTALL_TOOL "Install the kqhelp tool from this build" ${kq_tool_default})

set(KQHELP_CMAKE_DIR lib/cmake/kqhelp)
install(TARGETS kqhelp kqhost_shared kqhelp_headers EXPORT kqhelp-targets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/include/kqhelp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
        COMPONENT development)
install(FILES ${CMAKE_SOURCE_DIR}/host/kqhost.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kqhelp
        COMPONENT development)

# CMake package: one configuration for both architectures under lib/cmake (a
# 32-bit consumer on a 64-bit machine may not know its multiarch folder); it
# loads the targets of the consumer's pointer size.
include(CMakePackageConfigHelpers)
install(EXPORT kqhelp-targets NAMESPACE kqhelp:: DESTINATION ${KQHELP_CMAKE_DIR}
        FILE kqhelp-targets-${KQHELP_BITS}.cmake COMPONENT development)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/kqhelpConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/kqhelpConfig.cmake INPUT ${CMAKE_CURRENT_LIST_DIR}/kqhelpConfig.cmake.in)
install(FILES ${CMAKE_BINARY_DIR}/kqhelpConfig.cmake ${CMAKE_BINARY_DIR}/kqhelpConfigVersion.cmake
        DESTINATION ${KQHELP_CMAKE_DIR} COMPONENT development)

# pkg-config, written at install time: the prefix is known only then
# (cmake --install --prefix, make install PREFIX=, the packages' /usr).
install(CODE "set(KQHELP_PC_IN \"${CMAKE_CURRENT_LIST_DIR}/kqhelp.pc.in\")
  set(KQHELP_PC_OUT \"${CMAKE_BINARY_DIR}/kqhelp.pc\")
  set(KQHELP_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(KQHELP_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(KQHELP_SONAME \"$<TARGET_SONAME_FILE_NAME:kqhelp>\")
  set(KQHELP_VERSION \"${PROJECT_VERSION}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/write-pc.cmake\")" COMPONENT development)

if(KQHELP_INSTALL_TOOL)
  install(TARGETS kqhelp_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool)
  # The tool finds the module in the library folder when it is not beside it.
  file(RELATIVE_PATH kq_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
  target_compile_definitions(kqhelp_tool PRIVATE
    KQHELP_INSTALLED_MODULE="${kq_bin_to_lib}/$<TARGET_SONAME_FILE_NAME:kqhelp>")
  # The manual page and the completion when they exist, checked at install time.
  install(CODE "set(KQHELP_TOOL_DIR \"${CMAKE_SOURCE_DIR}/tools/kqhelp\")
  set(KQHELP_MANDIR \"${CMAKE_INSTALL_MANDIR}\")
  set(KQHELP_DATADIR \"${CMAKE_INSTALL_DATADIR}\")
  include(\"${CMAKE_CURRENT_LIST_DIR}/install-tool-docs.cmake\")" COMPONENT tool)
endif()
