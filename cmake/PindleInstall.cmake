# What `cmake --install` puts under the prefix: the three shared libraries (versioned, with
# SONAMEs), their public headers under include/pindle/ (so the include paths the code uses,
# "platform/...", "PindleCore/...", "PindlePlayer/...", stay the same for a host), the proxy
# script evaluator the platform library runs beside itself, a CMake package (Pindle::Platform,
# Pindle::Core, Pindle::Player) and the pkg-config files pindle-core.pc and pindle-player.pc.
#
# Every header of the three library folders is public unless it is private by one of these
# rules, so that new code is installed without editing this file:
#   - it lives in a folder named `private/`, or its name ends in `Private.hpp`;
#   - it is listed in PINDLE_PRIVATE_HEADERS below (older headers that predate the rule).
# A public header may include only public headers, the standard library and POSIX: never
# libcurl, FFmpeg, Boost or a private header. scripts/consumer-test compiles every installed
# header on its own to hold us to that.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(PINDLE_PRIVATE_HEADERS
    # These pull in FFmpeg's headers; only the platform library's own sources use them.
    platform/media/FFmpegLibrary.hpp
    platform/media/FFmpegSupport.hpp
    platform/media/ByteStoreReader.hpp
    # The media layer's own: the FFmpeg media source, and the player's sound (libpulse).
    platform/media/FFmpegMediaSource.hpp
    platform/media/AudioRenderer.hpp
    # libcurl's transfer, behind the URL session's tasks.
    platform/net/CurlTransfer.hpp
    # These pull in libpulse's headers.
    platform/audio/PulseLibrary.hpp
    platform/audio/PulseContext.hpp
    platform/audio/SoundServer.hpp)

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

foreach(folder platform PindleCore PindlePlayer)
  file(GLOB_RECURSE headers CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}
       ${PROJECT_SOURCE_DIR}/${folder}/*.hpp)
  list(FILTER headers EXCLUDE REGEX "(^|/)private/|Private\\.hpp$|^platform/pac-evaluator/")
  list(REMOVE_ITEM headers ${PINDLE_PRIVATE_HEADERS})
  foreach(header IN LISTS headers)
    get_filename_component(subfolder ${header} DIRECTORY)
    install(FILES ${PROJECT_SOURCE_DIR}/${header}
            DESTINATION ${PINDLE_INSTALL_INCLUDEDIR}/${subfolder} COMPONENT development)
  endforeach()
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
