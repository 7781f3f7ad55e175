# What `cmake --install` lays out and the packages CPack makes from it:
# on Linux a Debian package (cpack -G DEB), for Windows the installer
# (cpack -G NSIS) with every DLL and Qt plugin the program loads.

include(GNUInstallDirs)

if(WIN32)
  # Everything beside the executable, as Windows and the program expect:
  # config.txt lives there, Qt finds its plugins in the folders named after
  # their kind (platforms/, sqldrivers/, styles/) there.
  set(VELMAR_BIN_DESTINATION .)
  set(VELMAR_SCHEMA_DESTINATION schema)
else()
  set(VELMAR_BIN_DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(VELMAR_SCHEMA_DESTINATION ${CMAKE_INSTALL_DATADIR}/velmar-automation-server/schema)
endif()

install(TARGETS velmar-automation-server RUNTIME DESTINATION ${VELMAR_BIN_DESTINATION})
install(DIRECTORY schema/ DESTINATION ${VELMAR_SCHEMA_DESTINATION} FILES_MATCHING PATTERN "*.sql")

if(NOT WIN32)
  # The unit's ExecStart names the program where this install puts it; the
  # prefix is known only when installing (cpack installs under /usr).
  set(VELMAR_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
      "Where the systemd unit is installed, relative to the prefix (or absolute)")
  set(VELMAR_UNIT_SOURCE ${PROJECT_SOURCE_DIR}/packaging/velmar-automation-server.service)
  set(VELMAR_UNIT_OUTPUT ${PROJECT_BINARY_DIR}/packaging/velmar-automation-server.service)
  install(CODE "
    file(READ \"${VELMAR_UNIT_SOURCE}\" unit)
    string(REPLACE \"/usr/local/bin/velmar-automation-server\"
           \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/velmar-automation-server\" unit \"\${unit}\")
    file(WRITE \"${VELMAR_UNIT_OUTPUT}\" \"\${unit}\")")
  install(FILES ${VELMAR_UNIT_OUTPUT} DESTINATION ${VELMAR_SYSTEMD_UNIT_DIR})
else()
  include(cmake/WindowsRuntime.cmake)
endif()

set(CPACK_PACKAGE_NAME velmar-automation-server)
set(CPACK_PACKAGE_VENDOR "Velmar")
set(CPACK_PACKAGE_CONTACT "Velmar Automation Server maintainers <maintainers@velmar.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Unattended server for training expiry alerts and queued email beside a service-contract database")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR NSIS)
  set(CPACK_PACKAGE_FILE_NAME velmar-automation-server-${PROJECT_VERSION}-win64)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY "Velmar Automation Server")
  set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Velmar Automation Server")
  set(CPACK_NSIS_PACKAGE_NAME "Velmar Automation Server ${PROJECT_VERSION}")
  set(CPACK_NSIS_DISPLAY_NAME "Velmar Automation Server")
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
  # makensis for x86-64 Windows (CPack would split options on spaces).
  set(CPACK_NSIS_EXECUTABLE ${PROJECT_SOURCE_DIR}/packaging/makensis-amd64)
  set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
  set(CPACK_PACKAGE_EXECUTABLES velmar-automation-server "Velmar Automation Server")
  set(CPACK_NSIS_INSTALLED_ICON_NAME velmar-automation-server.exe)
  # The uninstaller removes only what the installer put there: config.txt,
  # which the operator or the settings window writes, stays, and so does its
  # folder. An upgrade overwrites the program's files and leaves it as well.
  set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Qt loads its SQL drivers as plugins, which no linker sees; adduser makes
  # the service user.
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "adduser, libqt6sql6-sqlite, libqt6sql6-odbc")
  # SQL Server through FreeTDS; the sqlite3 tool lays out an embedded database.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, sqlite3")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
      ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
      ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()
include(CPack)
