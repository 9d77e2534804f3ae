# kit_add_library(<name> PACKAGE <Pkg> VERSION <x.y.z> SOVERSION <so>
#                 DESCRIPTION <text> SOURCES <src...> [PC_REQUIRES <pkgs>]
#                 [PRIVATE_LIBS <libs...>])
#
# Builds lib<name>.so with hidden visibility (the public header marks what is
# exported), installs its public headers from <folder>/include, and a CMake
# package <Pkg> (target <Pkg>::<Pkg>) plus <name>.pc for pkg-config.
function(kit_add_library name)
  cmake_parse_arguments(K "" "PACKAGE;VERSION;SOVERSION;DESCRIPTION;PC_REQUIRES;PC_LIBS_PRIVATE"
                        "SOURCES;PRIVATE_LIBS" ${ARGN})
  add_library(${name} SHARED ${K_SOURCES})
  add_library(${K_PACKAGE}::${K_PACKAGE} ALIAS ${name})
  set_target_properties(${name} PROPERTIES
    VERSION ${K_VERSION}
    SOVERSION ${K_SOVERSION}
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
          LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
          INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

  set(cfgdir ${CMAKE_INSTALL_LIBDIR}/cmake/${K_PACKAGE})
  install(EXPORT ${K_PACKAGE}Targets NAMESPACE ${K_PACKAGE}:: DESTINATION ${cfgdir})
  include(CMakePackageConfigHelpers)
  set(KIT_PACKAGE ${K_PACKAGE})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KitConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}Config.cmake INSTALL_DESTINATION ${cfgdir})
  write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}ConfigVersion.cmake
    VERSION ${K_VERSION} COMPATIBILITY SameMajorVersion)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}Config.cmake
                ${CMAKE_CURRENT_BINARY_DIR}/${K_PACKAGE}ConfigVersion.cmake
          DESTINATION ${cfgdir})

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
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endfunction()
