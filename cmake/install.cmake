# What `cmake --install` puts under the prefix, and the Debian package.
#
#   runtime:     bin/textmend and bin/textmend-report, their man pages
#   development: the public header, the library, the CMake package files
#                (find_package(textmend CONFIG) then textmend::textmend)

find_program(TEXTMEND_GZIP gzip)
set(man_pages)
foreach(page textmend.1 textmend-report.1)
    set(source ${PROJECT_SOURCE_DIR}/docs/${page})
    if(TEXTMEND_GZIP AND NOT WIN32)
        # Installed man pages are compressed, as Debian's policy wants.
        add_custom_command(OUTPUT ${page}.gz
            COMMAND ${TEXTMEND_GZIP} -9 -n -c ${source} > ${page}.gz
            DEPENDS ${source} VERBATIM)
        list(APPEND man_pages ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    else()
        list(APPEND man_pages ${source})
    endif()
endforeach()
add_custom_target(textmend_man_pages ALL DEPENDS ${man_pages})

install(TARGETS textmend textmend-report RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

install(TARGETS textmend_core EXPORT textmendTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/textmend/textmend.hpp
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/textmend COMPONENT development)
set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/textmend)
install(EXPORT textmendTargets NAMESPACE textmend:: DESTINATION ${package_dir} COMPONENT development)

include(CMakePackageConfigHelpers)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/textmendConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/textmendConfig.cmake INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/textmendConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/textmendConfig.cmake
    ${CMAKE_CURRENT_BINARY_DIR}/textmendConfigVersion.cmake
    DESTINATION ${package_dir} COMPONENT development)

# cpack -G DEB: the program and its man page.
set(CPACK_PACKAGE_NAME textmend)
set(CPACK_PACKAGE_VENDOR "textmend developers")
set(CPACK_PACKAGE_CONTACT "textmend developers <maintainers@users.noreply.c-seed-63e16414.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repair text files of mixed UTF-8 and Latin-1/Windows-1252")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "textmend judges every high byte of a text by itself: what has the form of a UTF-8 sequence is "
    "taken as UTF-8, everything else as a Latin-1 or Windows-1252 character. It writes one file in "
    "one target encoding: Latin-1, Windows-1252 or UTF-8. For German, French, Spanish and similar "
    "texts, mail archives, subtitles and database exports in which the encodings got mixed. "
    "textmend-report tells, without changing anything, what a file needs.")
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME textmend)
set(CPACK_DEBIAN_RUNTIME_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
