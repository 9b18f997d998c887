# Warnings for the project's own targets (JUCE's sources keep their own flags).
add_library(veltro_warnings INTERFACE)
target_compile_options(veltro_warnings INTERFACE
    $<$<CXX_COMPILER_ID:GNU,Clang,AppleClang>:-Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion>)
