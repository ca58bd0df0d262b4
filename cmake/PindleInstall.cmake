# What `cmake --install` puts under the prefix: the three shared libraries (versioned, with
# SONAMEs), their public headers under include/pindle/ (so the include paths the code uses,
# "platform/...", "PindleCore/...", "PindlePlayer/...", stay the same for a host), the proxy
# script evaluator the platform library runs beside itself, a CMake package (Pindle::Platform,
# Pindle::Core, Pindle::Player) and the pkg-config files pindle-core.pc and pindle-player.pc.
#
# Only the headers listed in PindlePublicHeaders.cmake are installed; the others live in
# `private/` folders.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)
include(${CMAKE_CURRENT_LIST_DIR}/PindlePublicHeaders.cmake)

set(PINDLE_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/pindle)
set(PINDLE_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Pindle)

set(pindle_libraries PindlePlatform PindleCore PindlePlayer)
set(pindle_export_names Platform Core Player)
foreach(library export_name IN ZIP_LISTS pindle_libraries pindle_export_names)
  set_target_properties(${library} PROPERTIES
    VERSION ${PROJECT_VERSION}
    SOVERSION ${PROJECT_VERSION_MAJOR}
    EXPORT_NAME ${export_name}
    # Installed side by side, the libraries find each other (and nothing else) by $ORIGIN.
    INSTALL_RPATH "$ORIGIN"
    # So they are in the build tree, with the same search path: a build-tree path that the
    # install rewrites is padded by CMake with empty entries, which the loader reads as the
    # current directory and searched there first for every library each of them needs.
    BUILD_WITH_INSTALL_RPATH ON
    LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/lib)
  target_include_directories(${library} INTERFACE $<INSTALL_INTERFACE:${PINDLE_INSTALL_INCLUDEDIR}>)
  target_compile_features(${library} PUBLIC cxx_std_20)
endforeach()

install(TARGETS ${pindle_libraries}
        EXPORT PindleTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT development)
# ProxyAutoConfiguration looks for its evaluator beside the platform library.
install(TARGETS pindle-pac-evaluator RUNTIME DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime)

foreach(header IN LISTS PINDLE_PUBLIC_HEADERS)
  get_filename_component(subfolder ${header} DIRECTORY)
  install(FILES ${PROJECT_SOURCE_DIR}/${header}
          DESTINATION ${PINDLE_INSTALL_INCLUDEDIR}/${subfolder} COMPONENT development)
endforeach()

install(EXPORT PindleTargets NAMESPACE Pindle:: DESTINATION ${PINDLE_INSTALL_CMAKEDIR}
        COMPONENT development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/PindleConfig.cmake.in
                              ${PROJECT_BINARY_DIR}/PindleConfig.cmake
                              INSTALL_DESTINATION ${PINDLE_INSTALL_CMAKEDIR})
# A host written against 1.x builds against any later 1.y; a new major may break it.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/PindleConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/PindleConfig.cmake ${PROJECT_BINARY_DIR}/PindleConfigVersion.cmake
        DESTINATION ${PINDLE_INSTALL_CMAKEDIR} COMPONENT development)

# The .pc files locate the prefix from their own folder, so that an install moved elsewhere, or
# made with `cmake --install --prefix`, still describes itself.
set(pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH PINDLE_PC_PREFIX /prefix/${pkgconfig_dir} /prefix)
string(REGEX REPLACE "/$" "" PINDLE_PC_PREFIX "\${pcfiledir}/${PINDLE_PC_PREFIX}")
set(PINDLE_PC_NAME pindle-core)
set(PINDLE_PC_DESCRIPTION "Pindle SDK: sessions, videos, uploads and live notifications")
set(PINDLE_PC_REQUIRES "")
set(PINDLE_PC_LIBS "-lPindleCore -lPindlePlatform")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pindle.pc.in ${PROJECT_BINARY_DIR}/pindle-core.pc @ONLY)
set(PINDLE_PC_NAME pindle-player)
set(PINDLE_PC_DESCRIPTION "Pindle SDK: player views, player controller and media cache")
set(PINDLE_PC_REQUIRES "pindle-core = ${PROJECT_VERSION}")
set(PINDLE_PC_LIBS "-lPindlePlayer")
configure_file(${CMAKE_CURRENT_LIST_DIR}/pindle.pc.in ${PROJECT_BINARY_DIR}/pindle-player.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/pindle-core.pc ${PROJECT_BINARY_DIR}/pindle-player.pc
        DESTINATION ${pkgconfig_dir} COMPONENT development)
