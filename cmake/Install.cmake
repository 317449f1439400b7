# What `cmake --install` puts where, and the Debian package made from it
# (scripts/package.sh runs cpack in the build directory):
#
#   bin/migrator, bin/migrator-cli                  the programs (stripped in the package)
#   share/doc/migrator/manual/                      the user's guide (F1 finds it there)
#   share/doc/migrator/copyright, changelog.gz
#   share/doc-base/migrator-manual                   the guide for doc-base
#   share/man/man1/migrator.1.gz, migrator-cli.1.gz
#   share/bash-completion/completions/migrator-cli
#   share/applications/com.orvane.Migrator.desktop   the menu entry
#   share/metainfo/com.orvane.Migrator.metainfo.xml  the software centres' description
#   share/icons/hicolor/*/apps/com.orvane.Migrator.* the icon, 16 to 256 pixels and SVG
#
# An installed program writes nothing here: its files go to the user's data
# directory (src/platform/program_dir.h).
include(GNUInstallDirs)

set(MIGRATOR_APP_ID com.orvane.Migrator)
set(MIGRATOR_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/migrator)
set(MIGRATOR_PACKAGE_MAINTAINER "Migrator maintainers <maintainers@orvane.com>"
  CACHE STRING "The Debian package's maintainer, as Name <address>")

# The guide relative to the programs, so that a moved installation (or the
# package's /usr instead of the build's prefix) still finds it.
file(RELATIVE_PATH MIGRATOR_MANUAL_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
  ${CMAKE_INSTALL_FULL_DATAROOTDIR}/doc/migrator/manual)
configure_file(${PROJECT_SOURCE_DIR}/cmake/install_dirs.h.in
  ${PROJECT_BINARY_DIR}/generated/install_dirs.h @ONLY)

# Man pages and the changelog get the version and the maintainer here and are
# compressed at build time, as Debian keeps them.
set(data_dir ${PROJECT_SOURCE_DIR}/data)
set(staged ${PROJECT_BINARY_DIR}/data)
set(compressed)
foreach(doc man/migrator.1 man/migrator-cli.1 debian/changelog)
  get_filename_component(name ${doc} NAME)
  configure_file(${data_dir}/${doc} ${staged}/${name} @ONLY)
  add_custom_command(OUTPUT ${staged}/${name}.gz
    COMMAND gzip -9 -n -k -f ${staged}/${name}
    DEPENDS ${staged}/${name}
    COMMENT "Compressing ${name}")
  list(APPEND compressed ${staged}/${name}.gz)
endforeach()
configure_file(${data_dir}/debian/copyright ${staged}/copyright @ONLY)
add_custom_target(install_files ALL DEPENDS ${compressed})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS migrator-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/manual/ DESTINATION ${MIGRATOR_DOCDIR}/manual)
install(FILES ${staged}/copyright ${staged}/changelog.gz DESTINATION ${MIGRATOR_DOCDIR})
install(FILES ${data_dir}/debian/migrator-manual
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc-base)
install(FILES ${staged}/migrator-cli.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${data_dir}/completion/migrator-cli
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)
if(MIGRATOR_BUILD_GUI)
  install(TARGETS migrator RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${staged}/migrator.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${data_dir}/${MIGRATOR_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${data_dir}/${MIGRATOR_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
  install(DIRECTORY ${data_dir}/icons/ DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons)
endif()
# A stripped program still holds the compiler's notes; strip them as Debian's
# own packages are (only when installing stripped, as cpack does).
set(programs migrator-cli)
if(MIGRATOR_BUILD_GUI)
  list(APPEND programs migrator)
endif()
foreach(program IN LISTS programs)
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      execute_process(COMMAND \"${CMAKE_STRIP}\" --remove-section=.comment
        --remove-section=.note
        \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\"
        COMMAND_ERROR_IS_FATAL ANY)
    endif()")
endforeach()

# The package is made from the build that ran the tests: cpack installs what
# is built and does not build everything first (scripts/package.sh builds
# the targets the package needs).
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME migrator)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${MIGRATOR_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "MySQL and MariaDB to Excel workbook migration tool")
set(CPACK_PACKAGE_DESCRIPTION [[
Migrator copies MySQL and MariaDB databases into Excel workbooks (.xls).
Its window shows a server and a workbook as trees and queues migrations of
a whole database, all its tables or a single table; they run in the
background while every step is logged. It also backs workbook tables up to
script files and restores them, maintains workbooks, filters each source
table with a stored SQL condition and checks the installed ODBC drivers.

The command-line program migrator-cli runs the same work without a window.]])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://orvane.com/migrator/")
# The libraries the programs link come from dpkg-shlibdeps; the ODBC driver
# and unixODBC's driver manager are loaded at run time.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "odbc-mariadb, unixodbc")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
