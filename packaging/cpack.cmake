# Debian package settings. include(CPack) has to run in the top-level
# directory, so this file is included from there, after all install() rules.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "samelyn")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The Samelyn developers")
# There is no public address yet: .invalid says so, where a made-up domain would not.
set(CPACK_PACKAGE_CONTACT "The Samelyn developers <maintainers@samelyn.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and remove duplicate files")
set(CPACK_PACKAGE_DESCRIPTION
    "Samelyn finds files of identical content below a folder and shows each\n"
    "set of copies together. It keeps the first copy of every set and moves\n"
    "the others to the trash after checking that the kept copy is still\n"
    "equal. Links, special files and unreadable files are left alone.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# Plugins are loaded at run time, so no linker-based scan can see them: the
# window needs a platform plugin to open at all, and the SVG plugins to show
# its icon.
set(_samelyn_plugin_depends "qt6-qpa-plugins, libqt6svg6")
find_program(SAMELYN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(SAMELYN_DPKG_SHLIBDEPS)
    # Let dpkg work out the library versions from what was actually linked.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_samelyn_plugin_depends}")
else()
    message(STATUS "dpkg-shlibdeps not found (package dpkg-dev): using a fixed dependency list")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libc6 (>= 2.36), libstdc++6 (>= 12), libgcc-s1 (>= 3.0), libqt6core6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6widgets6 (>= 6.4), libqt6dbus6 (>= 6.4), ${_samelyn_plugin_depends}")
endif()
# Without it Qt falls back to XWayland on a Wayland desktop: it runs, but blurred on a
# scaled screen. Recommended, not required: an X11 desktop needs none of it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")

include(CPack)
