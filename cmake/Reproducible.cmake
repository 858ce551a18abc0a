# Release packages (the windows-release and windows64-release presets): optimised,
# with debug information that scripts/dist strips into separate files, and the
# same bytes from every build of one commit, wherever the tree was checked out.
option(TALVENOR_RELEASE_PACKAGE "Build the binaries that make dist ships" OFF)

if(TALVENOR_RELEASE_PACKAGE)
    # Debug information to be split off; paths in it and in any assertion text are
    # relative to the source tree rather than to this checkout.
    add_compile_options(-g -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
    # No link time in the PE header (scripts/dist keeps objcopy from adding one).
    add_link_options(-Wl,--no-insert-timestamp)
endif()
