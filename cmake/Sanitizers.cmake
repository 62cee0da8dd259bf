# -DQUILLET_SANITIZE=ON builds everything with AddressSanitizer and UBSan.
option(QUILLET_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUILLET_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()

# -DQUILLET_FUZZ=ON (with clang) builds the libFuzzer targets in tests/fuzz.
option(QUILLET_FUZZ "Build libFuzzer targets (needs clang)" OFF)
