# VELTRO_SANITIZE builds everything with ASan and UBSan; the test script runs
# the JUCE-free tests this way once per run.
if(VELTRO_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
