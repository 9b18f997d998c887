# VELTRO_SANITIZE builds everything with ASan and UBSan; the test script runs
# the JUCE-free tests this way once per run.
if(VELTRO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# VELTRO_RTSAN builds with clang's RealtimeSanitizer (clang 20 or later); the
# test script builds and runs the real-time path tests this way.
if(VELTRO_RTSAN)
    add_compile_options(-fsanitize=realtime -fno-omit-frame-pointer)
    add_link_options(-fsanitize=realtime)
endif()
