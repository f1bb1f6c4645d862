# Helpers shared by every folder's CMakeLists.

# folvio_test(NAME <name> SOURCES <files...> LIBS <targets...> [CORE] [LABELS <labels...>])
# Adds one GoogleTest executable run under ctest. CORE marks a Qt-free test that the sanitizer
# build also runs. Every test gets a private registry, config and program directory, the
# offscreen Qt platform and the no-op shutdown, so no test can touch the user's real settings.
function(folvio_test)
  cmake_parse_arguments(T "CORE" "NAME" "SOURCES;LIBS;LABELS" ${ARGN})
  if(FOLVIO_FUZZ)
    return()
  endif()
  if(FOLVIO_CORE_ONLY AND NOT T_CORE)
    return()
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} folvio_testsupport GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${T_NAME} PRIVATE
    FOLVIO_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    FOLVIO_BINARY_DIR="${PROJECT_BINARY_DIR}"
    FOLVIO_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data")
  set(labels ${T_LABELS})
  if(T_CORE)
    list(APPEND labels core)
  endif()
  set(sandbox ${PROJECT_BINARY_DIR}/test-sandbox/${T_NAME})
  file(MAKE_DIRECTORY ${sandbox}/registry ${sandbox}/config ${sandbox}/home ${sandbox}/program)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES
    LABELS "${labels}"
    TIMEOUT 600
    ENVIRONMENT "MARVANE_REGISTRY_DIR=${sandbox}/registry;MARVANE_PROGRAM_DIR=${sandbox}/program;XDG_CONFIG_HOME=${sandbox}/config;HOME=${sandbox}/home;MARVANE_AUTOSTART_DIR=${sandbox}/autostart;QT_QPA_PLATFORM=offscreen;FOLVIO_NO_SHUTDOWN=1;LC_ALL=C.UTF-8")
endfunction()

# folvio_fuzz_target(NAME <name> SOURCES <files...> LIBS <targets...>)
# A libFuzzer target; ./test.sh runs each for a bounded time, seeded from tests/data/fuzz/<name>/.
function(folvio_fuzz_target)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(NOT FOLVIO_FUZZ)
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS})
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  set_property(GLOBAL APPEND PROPERTY FOLVIO_FUZZ_TARGETS ${F_NAME})
endfunction()
