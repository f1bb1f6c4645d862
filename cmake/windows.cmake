# The Windows build: the Qt-free libraries, folvio-zip, folvio-reg and their tests as static .exe
# files, cross-built with mingw-w64 (cmake/toolchain-mingw64.cmake) and run under Wine by ctest;
# with FOLVIO_WINDOWS_GUI=ON also the windows, for a Windows Qt 6 (README "Windows": untried here).
# Each platform unit that talks to the system has a *_win32.cpp beside the Linux one, same header;
# what the two have in common is in a *_common.cpp (or a unit without a twin) that both build.
# Not in the core here: the web page component (no mingw build of gumbo on Debian), the SQLite
# hives (the registry is the system's), and libdeflate's maximum level when no Windows libdeflate
# is found (level 10 then packs as our level 9).
option(FOLVIO_WINDOWS_GUI "Also build the windows (needs Qt 6 and gumbo built for Windows)" OFF)

set(FOLVIO_CORE_ONLY ON)
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601
  _POSIX_THREAD_SAFE_FUNCTIONS)  # localtime_r and gmtime_r in the C runtime
# The POSIX open flags that the core passes and the C runtime lacks.
add_compile_options(-include ${PROJECT_SOURCE_DIR}/platform/posixflags_win32.h)
# One file per program: no runtime DLLs beside it, so Wine and a bare Windows run it as it is.
if(MINGW)
  add_link_options(-static -static-libgcc -static-libstdc++)
endif()
# GCC 12 reports false -Wrestrict warnings on std::string assignments at -O2 (GCC bug 105329).
add_compile_options(-Wno-restrict)

include(cmake/folvio.cmake)
include(cmake/buildinfo.cmake)

add_library(folvio_platform STATIC
  platform/arguments_win32.cpp
  platform/atomicfile.cpp
  platform/codepage.cpp
  platform/codepage_win32.cpp
  platform/dirsearch.cpp
  platform/dostime.cpp
  platform/environment_win32.cpp
  platform/filelock.cpp
  platform/filenamecase_win32.cpp
  platform/filesystem_common.cpp
  platform/filesystem_win32.cpp
  platform/findfile_common.cpp
  platform/findfile_win32.cpp
  platform/interrupt_win32.cpp
  platform/leftout.cpp
  platform/process_win32.cpp
  platform/securerandom_win32.cpp
  platform/shutdown_win32.cpp
  platform/widepath_win32.cpp
  platform/wildcard.cpp
)
target_include_directories(folvio_platform PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(folvio_platform PUBLIC bcrypt shell32 ole32 advapi32 PRIVATE $<BUILD_INTERFACE:folvio_strict_warnings>)

add_library(folvio_registry STATIC platform/regfile.cpp platform/registry.cpp platform/registry_win32.cpp)
target_link_libraries(folvio_registry PUBLIC folvio_platform advapi32)

find_package(Threads REQUIRED)
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(LIBDEFLATE QUIET IMPORTED_TARGET libdeflate)
endif()
if(LIBDEFLATE_FOUND)
  set(FOLVIO_MAXDEFLATE zip/maxdeflate.cpp)
else()
  message(STATUS "No libdeflate for Windows: the maximum level packs as level 9")
  set(FOLVIO_MAXDEFLATE zip/maxdeflate_win32.cpp)
endif()
add_library(folvio_zip STATIC
  zip/aescipher.cpp
  zip/aescipher_win32.cpp
  zip/archivereader.cpp
  zip/bufferedstream.cpp
  zip/deflate.cpp
  zip/entryreuse.cpp
  ${FOLVIO_MAXDEFLATE}
  zip/maxdeflate_common.cpp
  zip/sortedzip.cpp
  zip/tradcipher.cpp
  zip/zipreader.cpp
  zip/ziprecords.cpp
  zip/zipdirectory.cpp
  zip/zipreuse.cpp
  zip/zipupdate.cpp
  zip/parallelpack.cpp
  zip/zipwriter.cpp
)
target_include_directories(folvio_zip PUBLIC ${PROJECT_SOURCE_DIR})
# zlib inflates for the reader (Debian's libz-mingw-w64-dev); AES, PBKDF2 and HMAC-SHA1 come from
# the system's CNG (bcrypt), as Debian has no mingw build of OpenSSL.
set(FOLVIO_WINDOWS_ZLIB /usr/${FOLVIO_MINGW_PREFIX}/lib/libz.a)
target_link_libraries(folvio_zip PUBLIC folvio_platform ${FOLVIO_WINDOWS_ZLIB} bcrypt PRIVATE Threads::Threads
  $<BUILD_INTERFACE:folvio_strict_warnings>)
if(LIBDEFLATE_FOUND)
  target_link_libraries(folvio_zip PRIVATE PkgConfig::LIBDEFLATE)
endif()

add_library(folvio_backup STATIC backup/archivenames.cpp backup/backuprun.cpp)
target_include_directories(folvio_backup PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(folvio_backup PUBLIC folvio_zip folvio_platform)
target_compile_options(folvio_backup PRIVATE -Wshadow -Wconversion -Wsign-conversion -Wold-style-cast)

add_library(folvio_components STATIC
  components/kwdreg.cpp
  components/kwkeey.cpp
  components/kwmidi.cpp
  components/kwparser.cpp
  components/kwreg.cpp
  components/kwregister.cpp
  components/kwstore.cpp
)
target_include_directories(folvio_components PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(folvio_components PUBLIC folvio_platform folvio_registry)

add_executable(folvio-zip tools/folvio-zip.cpp)
target_link_libraries(folvio-zip PRIVATE folvio_zip folvio_buildinfo)
add_executable(folvio-reg tools/folvio-reg.cpp)
target_link_libraries(folvio-reg PRIVATE folvio_registry folvio_buildinfo)

# The windows: the Qt libraries, the controls and the program, as on Linux. The power-off request
# is in folvio_platform here (ExitWindowsEx, no D-Bus).
if(FOLVIO_WINDOWS_GUI)
  set(FOLVIO_CORE_ONLY OFF)
  set(CMAKE_AUTOMOC ON)
  set(CMAKE_AUTORCC ON)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets PrintSupport)
  pkg_check_modules(GUMBO REQUIRED IMPORTED_TARGET gumbo)
  target_sources(folvio_components PRIVATE components/kwhtml.cpp components/kwhtmlfile.cpp)
  target_link_libraries(folvio_components PRIVATE PkgConfig::GUMBO)
  add_library(folvio_platform_qt INTERFACE)
  target_link_libraries(folvio_platform_qt INTERFACE folvio_platform Qt6::Core)
  add_library(folvio_components_qt STATIC
    components/kwbrfolder.cpp
    components/kwdigianz.cpp
    components/kwgraphics.cpp
    components/kwhtml_qt.cpp
    components/kwstatus.cpp
    components/kwstore_qt.cpp
  )
  target_link_libraries(folvio_components_qt PUBLIC folvio_components Qt6::Gui Qt6::Widgets)
  add_subdirectory(controls)
  add_subdirectory(app)
  set_target_properties(folvio PROPERTIES WIN32_EXECUTABLE ON)
endif()

if(NOT FOLVIO_BUILD_TESTS)
  return()
endif()
enable_testing()

# GoogleTest from Debian's sources, built with the same compiler; elsewhere an installed one.
set(FOLVIO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources")
if(EXISTS ${FOLVIO_GTEST_SOURCE}/CMakeLists.txt)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${FOLVIO_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
else()
  find_package(GTest REQUIRED)
endif()

add_library(folvio_testsupport STATIC tests/support/testsupport_common.cpp tests/support/testsupport_win32.cpp)
target_include_directories(folvio_testsupport PUBLIC ${PROJECT_SOURCE_DIR}/tests/support)
target_link_libraries(folvio_testsupport PUBLIC GTest::gtest)

# The core tests that fit both platforms. Left out, each for its reason:
#   filesystem, findfile, leftout, dirsearch, registry, kwdreg, folvio_reg, folvio_zip: they
#     make links, pipes, sockets and modes with POSIX calls or run the tools through sh; the
#     Windows behaviour of these units is tried in win32_test instead.
#   environment: it checks the XDG folders, which Windows does not have.
#   zipupdate, zipencryption, interop, tradcipher, maxdeflate: they run Linux readers and fork.
set(FOLVIO_WINDOWS_TESTS
  "platform_codepage_test\;tests/platform/codepage_test.cpp\;folvio_platform"
  "platform_dostime_test\;tests/platform/dostime_test.cpp\;folvio_platform"
  "platform_wildcard_test\;tests/platform/wildcard_test.cpp\;folvio_platform"
  "regfile_test\;tests/platform/regfile_test.cpp\;folvio_registry"
  "zip_sortedzip_test\;tests/zip/sortedzip_test.cpp\;folvio_zip"
  "zip_ziprecords_test\;tests/zip/ziprecords_test.cpp\;folvio_zip"
  "zip_zipdirectory_test\;tests/zip/zipdirectory_test.cpp\;folvio_zip"
  "zip_bufferedstream_test\;tests/zip/bufferedstream_test.cpp\;folvio_zip"
  "deflate_test\;tests/zip/deflate_test.cpp\;folvio_zip"
  "zip_aescipher_test\;tests/zip/aescipher_test.cpp\;folvio_zip"
  "zip_archivereader_test\;tests/zip/archivereader_test.cpp\;folvio_zip"
  "archivenames_test\;tests/backup/archivenames_test.cpp\;folvio_backup"
  "kwkeey_test\;tests/components/kwkeey_test.cpp\;folvio_components"
  "kwreg_test\;tests/components/kwreg_test.cpp\;folvio_components"
  "kwregister_test\;tests/components/kwregister_test.cpp\;folvio_components"
  "kwparser_test\;tests/components/kwparser_test.cpp\;folvio_components"
  "kwmidi_test\;tests/components/kwmidi_test.cpp\;folvio_components"
)
foreach(entry ${FOLVIO_WINDOWS_TESTS})
  list(GET entry 0 name)
  list(GET entry 1 source)
  list(GET entry 2 lib)
  folvio_test(NAME ${name} SOURCES ${source} LIBS ${lib} ${FOLVIO_WINDOWS_ZLIB} CORE)
endforeach()

# The cases of those tests that fit Linux only, left out here through GoogleTest's filter:
#   codepage: Python decodes the table (a Linux program); Linux's OEM page is UTF-8; the lower-case
#     table is the system's own, and Wine's lacks KELVIN SIGN (win32_test checks the rest).
#   sortedzip: names that differ in case only are two keys, as Linux names are (win32_test: one).
#   ziprecords: names CP437 holds go as UTF-8 where the OEM page is UTF-8 (win32_test: OEM pages).
#   kwreg: a registry made unwritable through its folder, a damaged hive file: the system's
#     registry has neither; the XDG folders and a program name without ".exe".
#   regfile: the values listed in the order written; Wine lists them sorted by name (win32_test
#     round-trips a tree in the system's order).
#   kwparser: the decimal separator of a Linux locale compiled with localedef.
#   kwmidi: Python's mido reads the files back (a Linux program).
#   aescipher: 7-Zip (a Linux program here) encrypts the input (check-windows has 7zz and unzip
#     read what folvio-zip.exe encrypts with AES instead).
#   archivereader: Info-ZIP zip, 7-Zip and Python (Linux programs) write the foreign archives; the
#     round trip's tree has a name with a line break, which Windows names cannot hold; the
#     flipped-byte cases find the folder by its Linux path spelling (the update's test passes).
set(FOLVIO_WINDOWS_FILTERS
  "platform_codepage_test\;-Codepage.EveryOemByteDecodesAsPythonsCp437Codec:Codepage.OnLinux*:Codepage.LowerCaseMapsEveryCharacterWhateverTheProcessLocale"
  "zip_ziprecords_test\;-ZipRecords.StoredNamesAndTheirEncoding"
  "zip_sortedzip_test\;-SortedZip.NamesDifferingOnlyInCaseAreDifferentKeys"
  "kwreg_test\;-KwRegTest.AFailedWriteRaisesFailedToSetData:KwRegTest.ADamagedHive*:KwRegTest.EnvironmentHelpers"
  "regfile_test\;-RegFile.ExportAndImportThroughTheRegistryAreLossless"
  "kwparser_test\;-KwParser.UsesTheLocaleDecimalSeparatorUnlessOverwritten:KwParser.ConvertAllColonsAndDotsTakesBothAsTheDecimalSymbol"
  "kwmidi_test\;-KwMidiTest.Mido*"
  "zip_aescipher_test\;-AesCipher.DecryptsWhatSevenZipEncrypted"
  "zip_archivereader_test\;-*/ReaderForeign.*:*/ReaderRoundTrip.*:TestAfterWriting.AByteTheDiskFlipped*:TestAfterWriting.AFailedUpdate*"
)
foreach(entry ${FOLVIO_WINDOWS_FILTERS})
  list(GET entry 0 name)
  list(GET entry 1 filter)
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "GTEST_FILTER=${filter}")
endforeach()

# The Windows behaviour itself: the real registry, attributes, code pages, long paths, the tools.
folvio_test(NAME win32_test SOURCES tests/platform/win32_test.cpp
  LIBS folvio_backup folvio_zip folvio_components folvio_registry ${FOLVIO_WINDOWS_ZLIB} CORE LABELS windows)
add_dependencies(win32_test folvio-zip folvio-reg)
target_compile_definitions(win32_test PRIVATE
  FOLVIO_ZIP_EXE="$<TARGET_FILE_NAME:folvio-zip>" FOLVIO_REG_EXE="$<TARGET_FILE_NAME:folvio-reg>")

# The code page tests once more under OEM code page 850: Wine takes the page from the locale,
# which localedef compiles into the build folder first.
find_program(FOLVIO_LOCALEDEF localedef)
if(FOLVIO_LOCALEDEF)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/locales)
  add_test(NAME win32_locales COMMAND ${FOLVIO_LOCALEDEF} -i de_DE -f UTF-8 ${PROJECT_BINARY_DIR}/locales/de_DE.UTF-8)
  set_tests_properties(win32_locales PROPERTIES FIXTURES_SETUP win32_locales LABELS windows)
  add_test(NAME win32_oem850_test COMMAND win32_test --gtest_filter=Win32CodePage.*)
  set(sandbox ${PROJECT_BINARY_DIR}/test-sandbox/win32_oem850_test)
  set_tests_properties(win32_oem850_test PROPERTIES FIXTURES_REQUIRED win32_locales LABELS "core;windows"
    ENVIRONMENT "LOCPATH=${PROJECT_BINARY_DIR}/locales;LC_ALL=de_DE.UTF-8;MARVANE_REGISTRY_DIR=${sandbox};FOLVIO_NO_SHUTDOWN=1")
endif()
