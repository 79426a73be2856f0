# Checks on the desktop integration files, included from tests/CMakeLists.txt.
# A missing validator is a failing test, not a skipped one, so CI cannot
# go green without having looked at these files.
get_property(_desktop_file GLOBAL PROPERTY SAMELYN_DESKTOP_FILE)
get_property(_icon_file GLOBAL PROPERTY SAMELYN_ICON_FILE)
get_property(_metainfo_file GLOBAL PROPERTY SAMELYN_METAINFO_FILE)
if(NOT _desktop_file OR NOT _icon_file OR NOT _metainfo_file)
    message(FATAL_ERROR "packaging/tests.cmake needs add_subdirectory(packaging) first")
endif()

find_program(SAMELYN_DESKTOP_FILE_VALIDATE desktop-file-validate)
find_program(SAMELYN_APPSTREAMCLI appstreamcli)
find_program(SAMELYN_XMLLINT xmllint)

function(_samelyn_tool_test name tool package)
    if(tool)
        add_test(NAME ${name} COMMAND "${tool}" ${ARGN})
    else()
        add_test(NAME ${name}_tool_missing_install_${package}
                 COMMAND "${CMAKE_COMMAND}" -E false)
    endif()
endfunction()

_samelyn_tool_test(packaging_desktop_file_valid "${SAMELYN_DESKTOP_FILE_VALIDATE}"
                   desktop-file-utils "${_desktop_file}")
_samelyn_tool_test(packaging_metainfo_valid "${SAMELYN_APPSTREAMCLI}"
                   appstream validate --no-net "${_metainfo_file}")
# A malformed icon would just leave the window and launcher without a picture.
_samelyn_tool_test(packaging_icon_well_formed "${SAMELYN_XMLLINT}"
                   libxml2-utils --noout "${_icon_file}")

# A placeholder address is a dead link in a software centre or a bounced mail.
add_test(NAME packaging_no_placeholder_addresses
         COMMAND "${CMAKE_COMMAND}" "-DFILES=${PROJECT_SOURCE_DIR}/CMakeLists.txt;${PROJECT_SOURCE_DIR}/packaging;${_metainfo_file}"
                 -P "${CMAKE_CURRENT_LIST_DIR}/no-placeholder-addresses.cmake")
