# The hardening Debian builds its packages with (dpkg-buildflags with
# hardening=+all): fortified libc calls, the stack protector, and a
# relocation table made read-only after immediate binding. The packages are
# made from this same tree, so every optimised build type (Release,
# RelWithDebInfo, MinSizeRel) gets it; fortifying needs optimisation, so a
# build without one goes without, and so do the sanitizer and fuzzing builds.
option(QUILLET_HARDENING "Build with Debian's hardening flags" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(QUILLET_HARDENING AND DPKG_BUILDFLAGS AND NOT QUILLET_SANITIZE AND NOT QUILLET_FUZZ)
    foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
        execute_process(
            COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                    ${DPKG_BUILDFLAGS} --get ${kind}
            OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
        separate_arguments(flags UNIX_COMMAND "${flags}")
        # Optimisation and debug information are the build type's; a file
        # prefix map would hide the sources' paths from the tests that find
        # their data beside them.
        list(FILTER flags EXCLUDE REGEX "^-O|^-g$|^-ffile-prefix-map=|^-fdebug-prefix-map=")
        set(quillet_${kind} ${flags})
    endforeach()
    set(optimised "$<CONFIG:Release,RelWithDebInfo,MinSizeRel>")
    add_compile_options("$<${optimised}:${quillet_CPPFLAGS};${quillet_CXXFLAGS}>")
    add_link_options("$<${optimised}:${quillet_LDFLAGS}>")
endif()
