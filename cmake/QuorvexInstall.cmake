# cmake --install: the tool and the web host's program in bin/, the platform runtime, the GUIDs library and the component
# module (in lib/quorvex/) under lib/, the headers under include/quorvex/, with a pkg-config
# file and a CMake package (find_package(Quorvex): Quorvex::platform, Quorvex::interface,
# Quorvex::module, Quorvex::quorvex), and the deployment files (deploy/) as examples under
# share/doc/quorvex/examples/. Every installed binary finds the others relative to itself.
include(CMakePackageConfigHelpers)

set(QUORVEX_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/quorvex)
file(RELATIVE_PATH bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
file(RELATIVE_PATH module_to_lib ${CMAKE_INSTALL_PREFIX}/${QUORVEX_MODULE_DIR}
     ${CMAKE_INSTALL_FULL_LIBDIR})

set_target_properties(quorvex quorvex_serve PROPERTIES INSTALL_RPATH "$ORIGIN/${bin_to_lib}")
set_target_properties(quorvex_module PROPERTIES INSTALL_RPATH "$ORIGIN/${module_to_lib}"
                                                EXPORT_NAME module)
set_target_properties(quorvex_platform PROPERTIES EXPORT_NAME platform)
set_target_properties(quorvex_interface PROPERTIES EXPORT_NAME interface)
target_include_directories(quorvex_interface PUBLIC
  $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}/quorvex>)

install(TARGETS quorvex EXPORT QuorvexTargets RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quorvex_serve RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS quorvex_platform EXPORT QuorvexTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS quorvex_interface EXPORT QuorvexTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(TARGETS quorvex_module EXPORT QuorvexTargets LIBRARY DESTINATION ${QUORVEX_MODULE_DIR})

install(FILES
  ${QUORVEX_ROOT}/platform/winapi.h
  ${QUORVEX_ROOT}/platform/object_context.h
  ${QUORVEX_ROOT}/platform/response_base.h
  ${QUORVEX_ROOT}/platform/com_ptr.h
  ${QUORVEX_ROOT}/platform/typelib_resource.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvex/platform)
install(DIRECTORY ${QUORVEX_ROOT}/platform/native/
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvex/platform/native)
get_target_property(interface_header quorvex_interface QUORVEX_GENERATED_HEADER)
install(FILES ${interface_header} ${QUORVEX_ROOT}/component/Quorvex.idl
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quorvex)

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Quorvex)
install(EXPORT QuorvexTargets NAMESPACE Quorvex:: DESTINATION ${config_dir})
configure_package_config_file(${QUORVEX_ROOT}/cmake/QuorvexConfig.cmake.in
  ${CMAKE_BINARY_DIR}/QuorvexConfig.cmake INSTALL_DESTINATION ${config_dir})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/QuorvexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/QuorvexConfig.cmake ${CMAKE_BINARY_DIR}/QuorvexConfigVersion.cmake
  DESTINATION ${config_dir})

# Relative to where the file lies, so that the tree can move (and a package put it under /usr).
file(RELATIVE_PATH QUORVEX_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
     ${CMAKE_INSTALL_PREFIX})
configure_file(${QUORVEX_ROOT}/cmake/quorvex.pc.in ${CMAKE_BINARY_DIR}/quorvex.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/quorvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(FILES ${QUORVEX_ROOT}/LICENSE ${QUORVEX_ROOT}/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${QUORVEX_ROOT}/samples/two-wings.jpg ${QUORVEX_ROOT}/samples/README.md
  DESTINATION ${CMAKE_INSTALL_DOCDIR}/samples)

# The deployment files are examples to copy into /etc, not live configuration: a package must not
# start services or change nginx on its own. The unit names the tool where this tree puts it, which
# is known only when installing (cmake --install --prefix, or /usr in the package).
set(examples_dir ${CMAKE_INSTALL_DOCDIR}/examples)
install(FILES ${QUORVEX_ROOT}/deploy/nginx/quorvex.conf DESTINATION ${examples_dir}/nginx)
install(CODE "
  file(READ [[${QUORVEX_ROOT}/deploy/systemd/quorvex@.service]] unit)
  string(REPLACE /usr/bin/quorvex \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvex\" unit \"\${unit}\")
  file(WRITE [[${CMAKE_BINARY_DIR}/examples/quorvex@.service]] \"\${unit}\")
  file(INSTALL [[${CMAKE_BINARY_DIR}/examples/quorvex@.service]]
       DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${examples_dir}/systemd\")
")
