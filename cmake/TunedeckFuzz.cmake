# td_add_fuzz(name SOURCES x_fuzz.cpp LIBS lib...)
# With TUNEDECK_FUZZ (clang): a libFuzzer binary `name_fuzz`, run as
#   build/fuzz/bin/name_fuzz -timeout=10 fuzz/corpus/name
# Otherwise, when tests are built: `name_replay`, the same entry point fed every file of
# fuzz/corpus/name by a small main, registered as a unit test so the corpus guards regressions.
function(td_add_fuzz name)
    cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "SOURCES;LIBS")
    set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${name})
    if(TUNEDECK_FUZZ)
        add_executable(${name}_fuzz ${arg_SOURCES})
        target_compile_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
        target_link_options(${name}_fuzz PRIVATE -fsanitize=fuzzer)
        target_link_libraries(${name}_fuzz PRIVATE Tunedeck::Warnings ${arg_LIBS})
    elseif(TUNEDECK_TESTS)
        add_executable(${name}_replay ${arg_SOURCES} ${CMAKE_SOURCE_DIR}/fuzz/ReplayMain.cpp)
        target_link_libraries(${name}_replay PRIVATE Tunedeck::Warnings ${arg_LIBS})
        add_test(NAME ${name}_replay COMMAND ${name}_replay ${corpus})
        set_tests_properties(${name}_replay PROPERTIES LABELS unit ENVIRONMENT "${TUNEDECK_TEST_ENV}")
        td_note_test_target(${name}_replay unit)
    endif()
endfunction()
