# The Marvane component library for other programs: the static libraries, their headers under
# include/marvane/ (#include "components/kwparser.h") and the CMake package MarvaneComponents
# with the targets Marvane::Components, Marvane::ComponentsQt and Marvane::Controls.
include(CMakePackageConfigHelpers)

set(FOLVIO_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/marvane)
set(FOLVIO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/MarvaneComponents)

# The libraries offered, with the names other programs use; everything they link of ours goes along.
set(offered folvio_components:Components folvio_components_qt:ComponentsQt folvio_controls:Controls)

# Collects into `out` the targets of this project that `target` links, itself included.
function(folvio_link_closure target out)
  set(closure ${${out}})
  if(target IN_LIST closure)
    return()
  endif()
  list(APPEND closure ${target})
  get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
    if(TARGET ${link})
      get_target_property(imported ${link} IMPORTED)
      if(NOT imported)
        folvio_link_closure(${link} closure)
      endif()
    endif()
  endforeach()
  set(${out} ${closure} PARENT_SCOPE)
endfunction()

set(exported "")
foreach(pair IN LISTS offered)
  string(REPLACE ":" ";" pair "${pair}")
  list(GET pair 0 target)
  list(GET pair 1 name)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
    folvio_link_closure(${target} exported)
  endif()
endforeach()

# The outside libraries the exported targets link, which the package config must find again.
set(qt_components "")
set(config_dependencies "")
set(headers "")
foreach(target IN LISTS exported)
  get_target_property(name ${target} EXPORT_NAME)
  if(NOT name)
    # A library of ours linked by an offered one: exported under its own name, capitalised, without the prefix.
    string(REGEX REPLACE "^folvio_" "" name ${target})
    string(SUBSTRING ${name} 0 1 first)
    string(SUBSTRING ${name} 1 -1 rest)
    string(TOUPPER ${first} first)
    set(name ${first}${rest})
    set_target_properties(${target} PROPERTIES EXPORT_NAME ${name})
  endif()
  # The source-tree include folder holds in the build tree only; installed, the headers lie below include/marvane.
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "")
  foreach(dir IN LISTS dirs)
    if(dir MATCHES "^\\$<")
      list(APPEND wrapped "${dir}")
    elseif(dir)
      list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
    endif()
  endforeach()
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${FOLVIO_INSTALL_INCLUDEDIR}>)
  target_compile_features(${target} INTERFACE cxx_std_20)

  get_target_property(links ${target} INTERFACE_LINK_LIBRARIES)
  foreach(link IN LISTS links)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
    if(link MATCHES "^Qt6::(.+)$")
      list(APPEND qt_components ${CMAKE_MATCH_1})
    elseif(link STREQUAL "SQLite::SQLite3")
      list(APPEND config_dependencies "find_dependency(SQLite3)")
    elseif(link STREQUAL "PkgConfig::GUMBO")
      list(APPEND config_dependencies "find_dependency(PkgConfig)"
        "pkg_check_modules(GUMBO REQUIRED QUIET IMPORTED_TARGET gumbo)")
    elseif(TARGET ${link} AND NOT link IN_LIST exported)
      message(FATAL_ERROR "dist/components.cmake: ${target} links ${link}; the package config must find it too")
    endif()
  endforeach()

  # The headers of the library's units (foo.h beside foo.cpp).
  get_target_property(source_dir ${target} SOURCE_DIR)
  get_target_property(sources ${target} SOURCES)
  foreach(source IN LISTS sources)
    get_filename_component(stem ${source} NAME_WE)
    if(EXISTS ${source_dir}/${stem}.h)
      list(APPEND headers ${source_dir}/${stem}.h)
    endif()
  endforeach()
endforeach()

# And every header of ours those include, so that each installed header compiles.
set(pending ${headers})
while(pending)
  list(POP_FRONT pending header)
  file(STRINGS ${header} includes REGEX "^#include \"[a-z]+/[a-z0-9_]+\\.h\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" included "${line}")
    set(included ${PROJECT_SOURCE_DIR}/${included})
    if(EXISTS ${included} AND NOT included IN_LIST headers)
      list(APPEND headers ${included})
      list(APPEND pending ${included})
    endif()
  endforeach()
endwhile()
list(REMOVE_DUPLICATES qt_components)
list(REMOVE_DUPLICATES config_dependencies)
if(qt_components)
  list(JOIN qt_components " " qt_components)
  list(APPEND config_dependencies "find_dependency(Qt6 COMPONENTS ${qt_components})")
endif()
list(JOIN config_dependencies "\n" FOLVIO_CONFIG_DEPENDENCIES)

# The headers under their folder's name, as the sources include them ("components/kwparser.h").
list(REMOVE_DUPLICATES headers)
foreach(header IN LISTS headers)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR} ${header})
  get_filename_component(relative ${relative} DIRECTORY)
  install(FILES ${header} DESTINATION ${FOLVIO_INSTALL_INCLUDEDIR}/${relative} COMPONENT Development)
endforeach()

install(TARGETS ${exported} EXPORT MarvaneComponentsTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
install(EXPORT MarvaneComponentsTargets NAMESPACE Marvane:: DESTINATION ${FOLVIO_INSTALL_CMAKEDIR}
  COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_SOURCE_DIR}/MarvaneComponentsConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MarvaneComponentsConfig.cmake INSTALL_DESTINATION ${FOLVIO_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MarvaneComponentsConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MarvaneComponentsConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/MarvaneComponentsConfigVersion.cmake
  DESTINATION ${FOLVIO_INSTALL_CMAKEDIR} COMPONENT Development)

if(TARGET folvio_designer_plugin)
  set(FOLVIO_INSTALL_DESIGNERDIR ${QT6_INSTALL_PLUGINS}/designer
    CACHE STRING "Where Qt Designer looks for plugins, relative to the prefix (Qt's plugin folder)")
  install(TARGETS folvio_designer_plugin LIBRARY DESTINATION ${FOLVIO_INSTALL_DESIGNERDIR} COMPONENT Development)
endif()
