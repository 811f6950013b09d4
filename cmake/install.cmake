# What `cmake --install` puts under the prefix, and the Debian package.
#
#   runtime:     bin/textmend, bin/textmend-report and bin/textmend-tree, their man pages
#   library:     libtextmend.so.MAJOR.MINOR.PATCH and its SONAME link (shared builds)
#   development: the public headers (C++ and C), the static library, the libtextmend.so
#                link, the CMake package files (find_package(textmend CONFIG)
#                then textmend::textmend) and textmend.pc for pkg-config

find_program(TEXTMEND_GZIP gzip)
set(man_pages)
foreach(page textmend.1 textmend-report.1 textmend-tree.1)
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

install(TARGETS textmend textmend-report textmend-tree RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)

install(TARGETS ${textmend_installed_libraries} EXPORT textmendTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_COMPONENT development)
install(FILES ${PROJECT_SOURCE_DIR}/include/textmend/textmend.h
    ${PROJECT_SOURCE_DIR}/include/textmend/textmend.hpp ${PROJECT_SOURCE_DIR}/include/textmend/target.hpp
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

# pkg-config: the prefix is worked out from where textmend.pc lies, so that an
# installation can be moved.
set(pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH pkgconfig_to_prefix /prefix/${pkgconfig_dir} /prefix)
configure_file(${PROJECT_SOURCE_DIR}/cmake/textmend.pc.in ${CMAKE_CURRENT_BINARY_DIR}/textmend.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/textmend.pc DESTINATION ${pkgconfig_dir}
    COMPONENT development)

# Each package's copyright and changelog, as Debian's policy wants them.
set(debian_dir ${PROJECT_SOURCE_DIR}/packaging/debian)
set(debian_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz)
if(TEXTMEND_GZIP)
    add_custom_command(OUTPUT ${debian_changelog}
        COMMAND ${TEXTMEND_GZIP} -9 -n -c ${debian_dir}/changelog > ${debian_changelog}
        DEPENDS ${debian_dir}/changelog VERBATIM)
    add_custom_target(textmend_debian_changelog ALL DEPENDS ${debian_changelog})
endif()
set(textmend_packages runtime textmend development textmend-dev)
if(BUILD_SHARED_LIBS)
    list(APPEND textmend_packages library libtextmend${PROJECT_VERSION_MAJOR})
endif()
while(textmend_packages)
    list(POP_FRONT textmend_packages component package)
    set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package})
    install(FILES ${debian_dir}/copyright DESTINATION ${doc_dir} COMPONENT ${component})
    if(TEXTMEND_GZIP)
        install(FILES ${debian_changelog} DESTINATION ${doc_dir} COMPONENT ${component})
    endif()
endwhile()

# cpack -G DEB: textmend (the programs and their man pages), and with a
# shared build (the package preset) libtextmend1 (the shared library) and
# textmend-dev (header, static library, .so link, CMake and pkg-config files).
set(CPACK_PACKAGE_NAME textmend)
set(CPACK_PACKAGE_VENDOR "textmend developers")
set(CPACK_PACKAGE_CONTACT "textmend developers <maintainers@users.noreply.c-seed-63e16414.example>")
# The summary CPack takes as its default: then each package's synopsis is
# the first line of its component's description, not one summary for all.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

# Descriptions: a synopsis line, then lines of at most 80 characters.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME textmend)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION
"repair text files of mixed UTF-8 and Latin-1/Windows-1252
textmend judges every high byte of a text by itself: what has the form of a
UTF-8 sequence is taken as UTF-8, everything else as a Latin-1 or Windows-1252
character. It writes one file in one target encoding: Latin-1, Windows-1252 or
UTF-8. For German, French, Spanish and similar texts, mail archives, subtitles
and database exports in which the encodings got mixed.
.
textmend-report tells, without changing anything, what a file needs;
textmend-tree repairs the files of whole trees that need it, in place.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libtextmend${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The paragraph both library packages start with, as Debian's related
# packages do.
set(library_description
"The textmend library converts text in which UTF-8 and Latin-1 or Windows-1252
are mixed into one target encoding, judging every high byte by itself, and
tells what a conversion would change without converting.
.")
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
"repair text of mixed UTF-8 and Latin-1/Windows-1252 - shared library
${library_description}
This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME textmend-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
"repair text of mixed UTF-8 and Latin-1/Windows-1252 - development files
${library_description}
This package holds the C++17 and C99 headers, the static library, and the
files for CMake (find_package(textmend)) and pkg-config.")

if(BUILD_SHARED_LIBS)
    # The linker cache is refreshed by a trigger; CPack's own maintainer
    # scripts, which call ldconfig, are replaced by ones that only check
    # their arguments.
    set(control_dir ${CMAKE_CURRENT_BINARY_DIR}/debian-library-control)
    foreach(file triggers postinst postrm)
        configure_file(${debian_dir}/libtextmend${PROJECT_VERSION_MAJOR}.${file} ${control_dir}/${file}
            COPYONLY)
        list(APPEND CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${control_dir}/${file})
    endforeach()
    set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_STRICT_PERMISSION ON)
    set(CPACK_COMPONENTS_ALL runtime library development)
    set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS
        "libtextmend${PROJECT_VERSION_MAJOR} (= ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})")
else()
    set(CPACK_COMPONENTS_ALL runtime development)
endif()
include(CPack)
