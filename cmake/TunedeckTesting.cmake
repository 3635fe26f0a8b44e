include(GoogleTest)

# Tests run headless: Qt on its offscreen platform, the engine on the clock-driven null output,
# and the examples/fixtures of the shared media folder found through TUNEDECK_MEDIA_DIR.
set(TUNEDECK_MEDIA_DIR "${CMAKE_SOURCE_DIR}/../shared/media" CACHE PATH "Real songs and wave files for tests")
# A home and XDG folders of the tests' own, so no test writes into the real home folder.
set(TUNEDECK_TEST_HOME "${CMAKE_BINARY_DIR}/test-home")
file(MAKE_DIRECTORY "${TUNEDECK_TEST_HOME}/config" "${TUNEDECK_TEST_HOME}/cache"
    "${TUNEDECK_TEST_HOME}/data")
set(TUNEDECK_TEST_ENV
    "HOME=${TUNEDECK_TEST_HOME}"
    "XDG_CONFIG_HOME=${TUNEDECK_TEST_HOME}/config"
    "XDG_CACHE_HOME=${TUNEDECK_TEST_HOME}/cache"
    "XDG_DATA_HOME=${TUNEDECK_TEST_HOME}/data"
    "QT_QPA_PLATFORM=offscreen"
    "SDL_AUDIODRIVER=dummy"
    "TUNEDECK_OUTPUT=null"
    "TUNEDECK_MEDIA_DIR=${TUNEDECK_MEDIA_DIR}"
    "TUNEDECK_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    "ASAN_OPTIONS=detect_leaks=0"
    "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/tsan.supp"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# td_add_gtest(name LABEL unit SOURCES a.cpp b.cpp LIBS lib...)
function(td_add_gtest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL" "SOURCES;LIBS")
    add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Tunedeck::Warnings ${arg_LIBS})
    # gtest_discover_tests flattens list-valued PROPERTIES, so an ENVIRONMENT list would lose
    # all but its first entry. The environment comes in through `cmake -E env` instead, which
    # the discovered tests (and the discovery itself) are started with.
    set_target_properties(${name} PROPERTIES
        CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${TUNEDECK_TEST_ENV}")
    gtest_discover_tests(${name}
        PROPERTIES LABELS ${arg_LABEL}
        DISCOVERY_TIMEOUT 60)
endfunction()

# td_add_qttest(name LABEL unit SOURCES a.cpp LIBS lib...)
function(td_add_qttest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL" "SOURCES;LIBS")
    qt_add_executable(${name} ${arg_SOURCES})
    target_link_libraries(${name} PRIVATE Qt6::Test Tunedeck::Warnings ${arg_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS ${arg_LABEL} ENVIRONMENT "${TUNEDECK_TEST_ENV}")
endfunction()
