# Debian packages for sites (scripts/package.sh): pru-host (the host, the
# module PRU87000 and the framework library, a desktop entry, an icon and the
# site-wide settings file) and pru-server (the server, its configuration under
# /etc, its system user and its systemd unit). Each keeps its private
# libraries in a folder of its own, so both install side by side.
set(PRU_HOST_LIBDIR lib/pru)
set(PRU_SERVER_LIBDIR lib/pru-server)
set(PRU_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

set_target_properties(pru_host PROPERTIES INSTALL_RPATH "$ORIGIN/../${PRU_HOST_LIBDIR}")
set_target_properties(pru_server PROPERTIES INSTALL_RPATH "$ORIGIN/../${PRU_SERVER_LIBDIR}")
set_target_properties(framework dataset rpc pru_data pru_definitions PRU87000 PROPERTIES INSTALL_RPATH "$ORIGIN")

install(TARGETS pru_host RUNTIME DESTINATION bin COMPONENT host)
install(TARGETS framework dataset rpc pru_data pru_definitions PRU87000
        LIBRARY DESTINATION ${PRU_HOST_LIBDIR} COMPONENT host)
install(FILES ${PRU_PACKAGING_DIR}/host/pru_host.desktop DESTINATION share/applications COMPONENT host)
install(FILES ${PRU_PACKAGING_DIR}/host/pru_host.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT host)
install(FILES ${PRU_PACKAGING_DIR}/host/pru_host.conf DESTINATION /etc/xdg/pru COMPONENT host)
install(FILES ${CMAKE_SOURCE_DIR}/docs/report.md DESTINATION share/doc/pru-host COMPONENT host)

install(TARGETS pru_server RUNTIME DESTINATION bin COMPONENT server)
install(TARGETS dataset rpc pru_definitions LIBRARY DESTINATION ${PRU_SERVER_LIBDIR} COMPONENT server)
install(FILES ${PRU_PACKAGING_DIR}/server/pru_server.conf DESTINATION /etc/pru COMPONENT server)
install(FILES ${PRU_PACKAGING_DIR}/server/pru-server.service DESTINATION /lib/systemd/system COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/docs/server.md DESTINATION share/doc/pru-server COMPONENT server)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/scripts/make-cert.sh DESTINATION sbin RENAME pru-make-cert COMPONENT server)
install(FILES ${CMAKE_SOURCE_DIR}/scripts/postgres-setup.sql ${CMAKE_SOURCE_DIR}/scripts/postgres-lookup-role.sql
        DESTINATION share/pru-server COMPONENT server)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/docs/examples/ DESTINATION share/doc/pru-server/examples COMPONENT server)

# Packages carry stripped programs (scripts/package.sh keeps their debug
# information apart, in dist/debug/), and packaging builds only what ships.
set(CPACK_STRIP_FILES ON)
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME pru)
set(CPACK_PACKAGE_VENDOR "Processos da Unidade")
set(CPACK_PACKAGE_CONTACT "Processos da Unidade <suporte@localhost>")
set(CPACK_PACKAGE_VERSION ${PRU_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL host server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)

set(CPACK_DEBIAN_HOST_PACKAGE_NAME pru-host)
set(CPACK_COMPONENT_HOST_DESCRIPTION "Processos da Unidade: a aplicação hospedeira com a tela PRU87000")
set(CPACK_DEBIAN_HOST_PACKAGE_DEPENDS
    "libqt6widgets6 (>= 6.4), libqt6network6 (>= 6.4), libqt6sql6 (>= 6.4), libqt6printsupport6 (>= 6.4), libqt6sql6-sqlite, libqt6sql6-psql, libsqlite3-0, fonts-dejavu-core, libc6, libstdc++6")
# Sites keep the lookups on PostgreSQL (a Depends above); Firebird is the exception.
set(CPACK_DEBIAN_HOST_PACKAGE_RECOMMENDS "libqt6sql6-ibase")
set(CPACK_DEBIAN_HOST_PACKAGE_CONTROL_EXTRA ${PRU_PACKAGING_DIR}/host/conffiles)

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME pru-server)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "Processos da Unidade: o servidor de aplicação, como serviço do systemd")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS
    "libqt6core6 (>= 6.4), libqt6network6 (>= 6.4), libqt6sql6 (>= 6.4), libqt6sql6-sqlite, libqt6sql6-psql, libsqlite3-0, libpq5, libsodium23, libssl3, libc6, libstdc++6, adduser, openssl")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    "${PRU_PACKAGING_DIR}/server/conffiles;${PRU_PACKAGING_DIR}/server/postinst;${PRU_PACKAGING_DIR}/server/prerm;${PRU_PACKAGING_DIR}/server/postrm")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
