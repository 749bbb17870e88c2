# Install rules and the Debian package (cpack -G DEB in the build folder gives
# varno_<version>_amd64.deb).
#
# The programs keep their own folder rule: the feed's configuration is the
# folder conf/ beside bin/, found from the executable's real path. So they live
# in /usr/lib/varno/bin with /usr/lib/varno/conf a link to /etc/varno, and
# /usr/bin holds links to them.

set(VARNO_PKG ${CMAKE_SOURCE_DIR}/packaging)
set(VARNO_PKG_BUILD ${CMAKE_BINARY_DIR}/packaging)
set(VARNO_LIBDIR lib/varno)

install(TARGETS varno varno-report RUNTIME DESTINATION ${VARNO_LIBDIR}/bin)
foreach(program varno varno-report)
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin\")
    file(CREATE_LINK ../${VARNO_LIBDIR}/bin/${program}
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/bin/${program}\" SYMBOLIC)")
endforeach()
install(CODE "file(CREATE_LINK /etc/varno
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${VARNO_LIBDIR}/conf\" SYMBOLIC)")

# Samples only: neither is used until an administrator copies it to its
# working name.
install(FILES ${VARNO_PKG}/conf/example-dbf.conf.sample ${VARNO_PKG}/conf/example.env.sample
        DESTINATION /etc/varno PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

install(FILES ${VARNO_PKG}/systemd/varno-stat@.service ${VARNO_PKG}/systemd/varno-stat@.timer
              ${VARNO_PKG}/systemd/varno-feed@.service ${VARNO_PKG}/systemd/varno-feed@.timer
        DESTINATION /lib/systemd/system)

install(FILES ${VARNO_PKG}/bash-completion/varno DESTINATION share/bash-completion/completions)
install(CODE "file(CREATE_LINK varno
  \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/bash-completion/completions/varno-report\" SYMBOLIC)")

# Man pages and the changelog are installed compressed, as Debian wants them.
set(VARNO_GZIPPED)
foreach(source man/varno.1 man/varno-report.1 debian/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${VARNO_PKG_BUILD}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${VARNO_PKG_BUILD}
                     COMMAND gzip -9 -n -c ${VARNO_PKG}/${source} > ${VARNO_PKG_BUILD}/${name}.gz
                     DEPENDS ${VARNO_PKG}/${source} VERBATIM)
  list(APPEND VARNO_GZIPPED ${VARNO_PKG_BUILD}/${name}.gz)
endforeach()
add_custom_target(varno_package_files ALL DEPENDS ${VARNO_GZIPPED})
install(FILES ${VARNO_PKG_BUILD}/varno.1.gz ${VARNO_PKG_BUILD}/varno-report.1.gz
        DESTINATION share/man/man1)
install(FILES ${VARNO_PKG_BUILD}/changelog.gz ${VARNO_PKG}/debian/copyright
        DESTINATION share/doc/varno)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME varno)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vexmoor <varno@vexmoor.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "log analysis for a mail and web gateway")
# CPack puts the summary first and indents these lines.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "varno reads the daily logs of a mail and web gateway (SMTP transactions,
anti-spam and anti-virus verdicts, the delivery queue and the HTTP proxy).
It writes daily metadata files with hourly counters and top lists, follows
single messages through the logs, computes web statistics, and feeds one
row per message into a MariaDB or MySQL database.

varno-report turns the metadata files into one self-contained HTML page and
the newest day's totals into metrics for a monitoring agent. systemd timers
refresh both and run the database feed every five minutes.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser")
# Only the database feed loads the client library, at run time.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libmariadb3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${VARNO_PKG}/debian/conffiles ${VARNO_PKG}/debian/postinst ${VARNO_PKG}/debian/prerm
    ${VARNO_PKG}/debian/postrm)
include(CPack)
