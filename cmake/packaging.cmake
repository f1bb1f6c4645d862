# Debian packages by CPack (`cmake --build build --target package`), one per install component:
#   folvio                      the programs, manuals, menu entry, icons, systemd user units
#   libmarvane-components-dev   the component library for other programs, the Designer plugin
#   folvio-gallery              the component gallery
# The runtime dependencies come from the binaries (dpkg-shlibdeps). CPack indents the lines of
# the descriptions after the first; "." is an empty line.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${FOLVIO_PACKAGE_RUNTIME})
set(CPACK_PACKAGE_VENDOR "Marvane")
set(CPACK_PACKAGE_CONTACT "Marvane <folvio@marvane.example>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Gallery)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SOURCE ${FOLVIO_PACKAGE_RUNTIME})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${FOLVIO_PACKAGE_RUNTIME})
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "backup of chosen folders into ZIP archives
Marvane Folvio keeps a list of folders, each with a check mark, and packs
every checked folder into a ZIP archive of its own in one destination
folder: Deflate compression, optional traditional ZIP encryption, dated
archive names that never overwrite an earlier backup.
.
The package holds the program with its menu entry, folvio-zip to pack
archives and folvio-reg to set the options from scripts, and a systemd user
timer for the nightly backup without anybody at the desk.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME ${FOLVIO_PACKAGE_DEVELOPMENT})
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
# The static libraries need the headers of what they link; Qt Designer loads the plugin.
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "qt6-base-dev, libsqlite3-dev, libgumbo-dev, pkgconf | pkg-config")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION "Marvane component library (development files)
The components of the Marvane library for C++ programs: settings stores, a
password scrambler, an expression parser, a function plotter, a MIDI file
writer, a dot-matrix display, a gradient progress bar and a web page reader.
.
The package holds the static libraries, their headers, the CMake package
MarvaneComponents (find_package(MarvaneComponents)) and a Qt Designer plugin
for the visual controls.")

set(CPACK_DEBIAN_GALLERY_PACKAGE_NAME ${FOLVIO_PACKAGE_GALLERY})
set(CPACK_COMPONENT_GALLERY_DESCRIPTION "gallery of the Marvane components
folvio-gallery shows each component of the Marvane library at work: the
expression parser and function plotter, the dot-matrix display, the
gradient progress bar, the MIDI file writer and the web page reader. It
also writes their pictures to PNG files without a display.")

include(CPack)
