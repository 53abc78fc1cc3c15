# What `cmake --install` puts where, for desktop users (never from an Android build: apps get the
# library from the Android archive or their own NDK build):
#
#   <libdir>/libkiv-native-lib.so                 the shipped library, as built
#   <includedir>/kiv/codec.h                      the C header of encode and decode
#   <datadir>/java/kiv-native-lib.jar             NativeLoader and JniModel, for a desktop JVM
#   <libdir>/cmake/kiv-native-lib/                the package: find_package(kiv-native-lib)
#                                                 gives kiv-native-lib::kiv-native-lib and
#                                                 kiv-native-lib_JAR, as Prefab names it on Android
#   <bindir>/kiv                                  the tool (tools/kiv/CMakeLists.txt)
#
# The directories are GNUInstallDirs' for the prefix given at configure time; `cmake --install
# BUILD --prefix DIR` moves all of them under DIR, and the package finds itself from where it is.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(KIV_INSTALL_PACKAGE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/kiv-native-lib")
set(KIV_INSTALL_JAR "${CMAKE_INSTALL_DATADIR}/java/kiv-native-lib.jar")

if(NOT TARGET kiv-native-lib)
  return()  # no JDK, so no JNI library: the tool alone installs (tools/kiv/CMakeLists.txt)
endif()
target_include_directories(kiv-native-lib INTERFACE $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
install(TARGETS kiv-native-lib EXPORT kiv-native-lib LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES include/kiv/codec.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/kiv)
get_target_property(_kiv_install_jar kiv-java JAR_FILE)
get_filename_component(_kiv_jar_dir "${KIV_INSTALL_JAR}" DIRECTORY)
install(FILES "${_kiv_install_jar}" DESTINATION "${_kiv_jar_dir}" RENAME kiv-native-lib.jar)

install(EXPORT kiv-native-lib NAMESPACE kiv-native-lib:: FILE kiv-native-lib-targets.cmake
  DESTINATION "${KIV_INSTALL_PACKAGE_DIR}")
configure_package_config_file(cmake/kiv-native-lib-config.cmake.in
  "${CMAKE_CURRENT_BINARY_DIR}/kiv-native-lib-config.cmake"
  INSTALL_DESTINATION "${KIV_INSTALL_PACKAGE_DIR}"
  PATH_VARS KIV_INSTALL_JAR)
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/kiv-native-lib-config-version.cmake"
  COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/kiv-native-lib-config.cmake"
              "${CMAKE_CURRENT_BINARY_DIR}/kiv-native-lib-config-version.cmake"
  DESTINATION "${KIV_INSTALL_PACKAGE_DIR}")
