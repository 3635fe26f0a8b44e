# One place for the warning flags; every target of ours links Tunedeck::Warnings privately.
# The ci preset turns them into errors with CMAKE_COMPILE_WARNING_AS_ERROR.
add_library(tunedeck_warnings INTERFACE)
add_library(Tunedeck::Warnings ALIAS tunedeck_warnings)
target_compile_options(tunedeck_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
    $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>)
