# kit_add_library(<name> PACKAGE <Pkg> VERSION <x.y.z>
#                 DESCRIPTION <text> SOURCES <src...> [PC_REQUIRES <pkgs>]
#                 [PRIVATE_LIBS <libs...>])
#
# Builds lib<name>.so with hidden visibility (the public header marks what is
# exported), installs its public headers from <folder>/include, and a CMake
# package <Pkg> (target <Pkg>::<Pkg>) plus <name>.pc for pkg-config.
#
# VERSION is the library's one version source. The SONAME carries its major
# number (lib<name>.so.1), the file the whole version, and the CMake package
# accepts the same major version. The sources read it from the generated
# private header <name>_version.h (kit_version_header()).
#
# Install components: <name> (the shared object), <name>-dev (headers, the
# .so link, CMake package, .pc): one Debian package each (cmake/KitPackage.cmake).
function(kit_add_library name)
  cmake_parse_arguments(K "" "PACKAGE;VERSION;DESCRIPTION;PC_REQUIRES;PC_LIBS_PRIVATE"
                        "SOURCES;PRIVATE_LIBS" ${ARGN})
  string(REGEX MATCH "^([0-9]+)" major "${K_VERSION}")
  add_library(${name} SHARED ${K_SOURCES})
  add_library(${K_PACKAGE}::${K_PACKAGE} ALIAS ${name})
  kit_version_header(${name} ${K_VERSION})
  target_include_directories(${name} PRIVATE ${KIT_VERSION_INCLUDE_DIR_${name}})
  set_target_properties(${name} PROPERTIES
    VERSION ${K_VERSION}
    SOVERSION ${major}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    EXPORT_NAME ${K_PACKAGE})
  target_include_directories(${name}
    PUBLIC  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
            $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>
    PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  if(K_PRIVATE_LIBS)
    target_link_libraries(${name} PRIVATE ${K_PRIVATE_LIBS})
  endif()
  # Undefined symbols are link errors, not load-time surprises.
  if(NOT KIT_SANITIZE)
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()

  install(TARGETS ${name} EXPORT ${K_PACKAGE}Targets
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${name} NAMELINK_COMPONENT ${name}-dev
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
          COMPONENT ${name}-dev)

  set(cfgdir ${CMAKE_INSTALL_LIBDIR}/cmake/${K_PACKAGE})
  install(EXPORT ${K_PACKAGE}Targets NAMESPACE ${K_PACKAGE}:: DESTINATION ${cfgdir} COMPONENT ${name}-dev)
  include(CMakePackageConfigHelpers)
  set(KIT_PACKAGE ${K_PACKAGE})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KitConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}Config.cmake INSTALL_DESTINATION ${cfgdir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}ConfigVersion.cmake
    VERSION ${K_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}Config.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}ConfigVersion.cmake
          DESTINATION ${cfgdir} COMPONENT ${name}-dev)

  # The .pc file finds its prefix from where it lies, so an install with
  # `cmake --install --prefix <dir>` (or a moved tree) still points at itself.
  file(RELATIVE_PATH KIT_PC_UP /kit/${CMAKE_INSTALL_LIBDIR}/pkgconfig /kit)
  set(KIT_PC_PREFIX "\${pcfiledir}/${KIT_PC_UP}")
  string(REGEX REPLACE "/$" "" KIT_PC_PREFIX "${KIT_PC_PREFIX}")
  set(KIT_PC_NAME ${name})
  set(KIT_PC_DESCRIPTION "${K_DESCRIPTION}")
  set(KIT_PC_VERSION ${K_VERSION})
  set(KIT_PC_REQUIRES_PRIVATE "${K_PC_REQUIRES}")
  set(KIT_PC_LIBS_PRIVATE "${K_PC_LIBS_PRIVATE}")
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kit.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
          COMPONENT ${name}-dev)

  set_property(GLOBAL APPEND PROPERTY KIT_LIBRARIES ${name})
  set_property(GLOBAL PROPERTY KIT_DESCRIPTION_${name} "${K_DESCRIPTION}")
  set_property(GLOBAL PROPERTY KIT_VERSION_${name} "${K_VERSION}")
endfunction()

# kit_version_header(<name> <x.y.z>)
# Writes <name>_version.h into the build tree, with the version as the library
# reports it: KIT_VERSION_TEXT "x.y" and KIT_VERSION_COMPACT "xyz". Sets
# KIT_VERSION_INCLUDE_DIR_<name> (a cache entry, seen everywhere) for any
# other target built from the library's sources (test builds).
function(kit_version_header name version)
  string(REPLACE "." ";" parts "${version}")
  list(GET parts 0 KIT_V_MAJOR)
  list(GET parts 1 KIT_V_MINOR)
  list(GET parts 2 KIT_V_PATCH)
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/version)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/kit_version.h.in ${dir}/${name}_version.h @ONLY)
  set(KIT_VERSION_INCLUDE_DIR_${name} ${dir} CACHE INTERNAL "")
endfunction()
