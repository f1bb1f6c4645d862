# The program's identity and the installed layout, known to the code through the generated
# header buildinfo.h (target folvio_buildinfo). Only paths relative to the install prefix go
# into it: an installed program finds its files from its own folder, wherever it was installed.
include(GNUInstallDirs)

# One reverse-DNS id names the desktop entry, the AppStream component, the icons and the
# desktop file name Qt reports to the window manager.
set(FOLVIO_APP_ID "org.marvane.Folvio")
set(FOLVIO_COPYRIGHT "Copyright (C) 2026 Marvane")
# The Debian packages, one per install component (cmake/packaging.cmake); each has its
# share/doc folder named after it, the program's holds the README the window links to.
set(FOLVIO_PACKAGE_RUNTIME "folvio")
set(FOLVIO_PACKAGE_DEVELOPMENT "libmarvane-components-dev")
set(FOLVIO_PACKAGE_GALLERY "folvio-gallery")
set(FOLVIO_DOC_NAME ${FOLVIO_PACKAGE_RUNTIME})

file(RELATIVE_PATH FOLVIO_BINDIR_TO_DATADIR ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR})
if(IS_ABSOLUTE "${FOLVIO_BINDIR_TO_DATADIR}" OR FOLVIO_BINDIR_TO_DATADIR STREQUAL "")
  message(FATAL_ERROR "the data folder ${CMAKE_INSTALL_FULL_DATADIR} must lie beside the bin folder")
endif()

configure_file(${CMAKE_CURRENT_LIST_DIR}/buildinfo.h.in ${PROJECT_BINARY_DIR}/generated/buildinfo.h @ONLY)
add_library(folvio_buildinfo INTERFACE)
target_include_directories(folvio_buildinfo INTERFACE $<BUILD_INTERFACE:${PROJECT_BINARY_DIR}/generated>)
