# Install rules for the files around the programs (manual pages, bash
# completion, AppStream metadata, Debian copyright and changelog) and the
# Debian package: `cpack -G DEB` in a build folder writes
# mpo-convert_<version>_<arch>.deb with everything under /usr.

set(mpo_pkg_dir ${CMAKE_CURRENT_LIST_DIR})
set(mpo_pkg_out ${CMAKE_BINARY_DIR}/packaging)
if(PROJECT_VERSION_PATCH STREQUAL "")
  set(MPO_PACKAGE_VERSION ${PROJECT_VERSION}.0)
else()
  set(MPO_PACKAGE_VERSION ${PROJECT_VERSION})
endif()
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# gzip -9n: no name and no time stamp in the header, so the same text always
# gives the same bytes.
find_program(MPO_GZIP gzip REQUIRED)
set(mpo_pkg_gz "")
function(mpo_gzip source output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND sh -c "\"$1\" -9n -c \"$2\" > \"$3\"" sh ${MPO_GZIP} ${source} ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${output}"
    VERBATIM)
  set(mpo_pkg_gz ${mpo_pkg_gz} ${output} PARENT_SCOPE)
endfunction()

configure_file(${mpo_pkg_dir}/debian/changelog.in ${mpo_pkg_out}/changelog @ONLY)
mpo_gzip(${mpo_pkg_out}/changelog ${mpo_pkg_out}/changelog.gz)
set(mpo_pkg_pages mpo-convert-cli)
if(MPO_GUI)
  list(APPEND mpo_pkg_pages mpo-convert)
endif()
foreach(page IN LISTS mpo_pkg_pages)
  mpo_gzip(${mpo_pkg_dir}/man/${page}.1 ${mpo_pkg_out}/${page}.1.gz)
  install(FILES ${mpo_pkg_out}/${page}.1.gz DESTINATION share/man/man1)
endforeach()
add_custom_target(mpo_packaging_files ALL DEPENDS ${mpo_pkg_gz})

install(FILES ${mpo_pkg_dir}/completion/mpo-convert-cli
        DESTINATION share/bash-completion/completions)
if(MPO_GUI)
  install(FILES ${mpo_pkg_dir}/io.github.mpo_convert.mpo_convert.metainfo.xml
          DESTINATION share/metainfo)
endif()
install(FILES ${mpo_pkg_dir}/debian/copyright ${mpo_pkg_out}/changelog.gz
        DESTINATION share/doc/mpo-convert)
install(FILES ${mpo_pkg_dir}/debian/lintian-overrides
        DESTINATION share/lintian/overrides RENAME mpo-convert)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mpo-convert)
set(CPACK_PACKAGE_VERSION ${MPO_PACKAGE_VERSION})
set(CPACK_PACKAGE_VENDOR "The mpo-convert developers")
set(CPACK_PACKAGE_CONTACT "mpo-convert developers <mpo-convert@users.noreply.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "batch converter for stereo photographs in MPO files")
set(CPACK_PACKAGE_DESCRIPTION
    "Splits every MPO file (two JPEG images, the left and the right view, one
behind the other) of a folder and all folders below it into its left and
right JPEG image, and on request writes side-by-side, half-width
side-by-side and over/under images and a side-by-side image that keeps the
camera's Exif data.

The package holds the desktop program mpo-convert and the command line
program mpo-convert-cli, which converts in parallel and offers further
formats. The user interface and the manual pages are German.")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${mpo_pkg_dir}/strip_notes.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${CPACK_PACKAGE_CONTACT})
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
