# Warnings as errors for our own targets; Qt's imported include dirs are SYSTEM,
# so warnings from Qt headers do not stop the build.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Werror
    $<$<CXX_COMPILER_ID:GNU>:-Wno-error=maybe-uninitialized>)
