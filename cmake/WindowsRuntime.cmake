# The DLLs the Windows program loads, installed beside it: Qt's libraries and
# the plugins it loads at run time, SQLite, libcurl and the MinGW runtime.
# (Qt 6.4's base has no deployment tool for this.)

foreach(module Core Gui Widgets Sql)
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION ${VELMAR_BIN_DESTINATION})
endforeach()
# platforms/: the desktop (qwindows) and windowless (qoffscreen) ones;
# sqldrivers/: SQLite and ODBC; styles/: the native look.
foreach(kind platforms sqldrivers styles)
  install(DIRECTORY ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/${kind}
          DESTINATION ${VELMAR_BIN_DESTINATION} FILES_MATCHING PATTERN "*.dll")
endforeach()

# A DLL found beside the import library's folder (lib/ -> bin/) or in the
# toolchain's folders, by the names the linkers gave it.
function(velmar_install_dll variable)
  find_file(${variable} NAMES ${ARGN} PATH_SUFFIXES bin lib NO_CACHE REQUIRED)
  install(FILES ${${variable}} DESTINATION ${VELMAR_BIN_DESTINATION})
endfunction()
velmar_install_dll(VELMAR_SQLITE_DLL libsqlite3-0.dll sqlite3.dll)
velmar_install_dll(VELMAR_CURL_DLL libcurl-4.dll libcurl.dll)

# The compiler's own runtime: C++ library, exception unwinding, threads.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}" OR NOT EXISTS "${path}")
    message(FATAL_ERROR "The MinGW runtime ${dll} was not found (${CMAKE_CXX_COMPILER} -print-file-name)")
  endif()
  install(FILES ${path} DESTINATION ${VELMAR_BIN_DESTINATION})
endforeach()
