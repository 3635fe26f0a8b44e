include(GoogleTest)

# Tests run headless: Qt on its offscreen platform, the engine on the clock-driven null output.
# They write their own songs and wave files; a folder of real media named by TUNEDECK_MEDIA_DIR
# (in the environment at configure time, or on the cmake command line) adds rows of real files,
# and without one those rows skip.
set(TUNEDECK_MEDIA_DIR "$ENV{TUNEDECK_MEDIA_DIR}" CACHE PATH "Real songs and wave files for tests (optional)")
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
    # Leaks are checked; allocation stacks are unwound fully, because Qt is built without frame
    # pointers and the leak suppressions (cmake/lsan.supp) name frames beneath Qt's.
    "ASAN_OPTIONS=detect_leaks=1:fast_unwind_on_malloc=0"
    "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/lsan.supp:print_suppressions=0"
    "TSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/cmake/tsan.supp"
    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

# Every unit test's executable, for the target `unit_tests` (defined at the end of the top-level
# CMakeLists.txt), which the sanitizer pass of scripts/test.sh builds instead of everything.
function(td_note_test_target name label)
    if(label STREQUAL "unit")
        set_property(GLOBAL APPEND PROPERTY TUNEDECK_UNIT_TEST_TARGETS ${name})
    endif()
endfunction()

# A test's own code is built without optimisation or debug information in optimised builds: it
# compiles in half the time, and what it drives (the libraries) keeps the build's flags.
function(td_quick_test_build name)
    target_compile_options(${name} PRIVATE $<$<CONFIG:RelWithDebInfo,Release>:-O0 -g0>)
endfunction()

# td_add_gtest(name LABEL unit SOURCES a.cpp b.cpp LIBS lib...)
function(td_add_gtest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL" "SOURCES;LIBS")
    add_executable(${name} ${arg_SOURCES})
    td_note_test_target(${name} ${arg_LABEL})
    td_quick_test_build(${name})
    target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Tunedeck::Warnings ${arg_LIBS})
    # gtest_discover_tests flattens list-valued PROPERTIES, so an ENVIRONMENT list would lose
    # all but its first entry. The environment comes in through `cmake -E env` instead, which
    # the discovered tests (and the discovery itself) are started with.
    set_target_properties(${name} PROPERTIES
        CROSSCOMPILING_EMULATOR "${CMAKE_COMMAND};-E;env;${TUNEDECK_TEST_ENV}")
    # Parameterised cases are named by their index, not by a dump of their parameter's bytes.
    gtest_discover_tests(${name}
        NO_PRETTY_VALUES
        PROPERTIES LABELS ${arg_LABEL}
        DISCOVERY_TIMEOUT 60)
endfunction()

# td_add_qttest(name LABEL unit SOURCES a.cpp LIBS lib...)
function(td_add_qttest name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "LABEL" "SOURCES;LIBS")
    qt_add_executable(${name} ${arg_SOURCES})
    td_note_test_target(${name} ${arg_LABEL})
    td_quick_test_build(${name})
    target_link_libraries(${name} PRIVATE Qt6::Test Tunedeck::Warnings ${arg_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS ${arg_LABEL} ENVIRONMENT "${TUNEDECK_TEST_ENV}")
endfunction()
