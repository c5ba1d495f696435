# Release packages (scripts/package runs CPack in a Release build):
#   Windows  vyn-spectator-<version>-win32.zip         vyn_spectator.dll,
#            vyn-devhost.exe, INSTALL.txt, page/
#   Linux    vyn-spectator-<version>-linux-i386.tar.gz  libvyn_spectator.so,
#            vyn-devhost, page/
# Everything sits in the archive's top folder, so the stand-in host finds the
# plugin and its page beside it.
# `install` (and so CPack) takes what is built: scripts/package builds just
# these two targets, not the tests and their libraries.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
install(TARGETS vyn_spectator vyn-devhost
  RUNTIME DESTINATION . LIBRARY DESTINATION . ARCHIVE EXCLUDE_FROM_ALL)
# The stand-in host's page, in the layout its mounts expect (see
# devhost/server/page_files.h): the host's own files and just the files it loads from
# the kept packages, with their licences. scripts/package runs scripts/setup,
# which installs those packages.
set(VYN_PAGE_SOURCE ${PROJECT_SOURCE_DIR}/devhost/program/page)
install(FILES ${VYN_PAGE_SOURCE}/index.html ${VYN_PAGE_SOURCE}/page.js
              ${VYN_PAGE_SOURCE}/inspector.js ${VYN_PAGE_SOURCE}/page.css
  DESTINATION page)
install(FILES ${VYN_PAGE_SOURCE}/node_modules/swagger-ui-dist/swagger-ui.css
              ${VYN_PAGE_SOURCE}/node_modules/swagger-ui-dist/swagger-ui-bundle.js
              ${VYN_PAGE_SOURCE}/node_modules/swagger-ui-dist/LICENSE
              ${VYN_PAGE_SOURCE}/node_modules/swagger-ui-dist/NOTICE
  DESTINATION page/node_modules/swagger-ui-dist)
install(FILES ${VYN_PAGE_SOURCE}/node_modules/@msgpack/msgpack/dist.umd/msgpack.min.js
  DESTINATION page/node_modules/@msgpack/msgpack/dist.umd)
install(FILES ${VYN_PAGE_SOURCE}/node_modules/@msgpack/msgpack/LICENSE
  DESTINATION page/node_modules/@msgpack/msgpack)
install(FILES ${VYN_PAGE_SOURCE}/node_modules/uplot/dist/uPlot.iife.min.js
              ${VYN_PAGE_SOURCE}/node_modules/uplot/dist/uPlot.min.css
  DESTINATION page/node_modules/uplot/dist)
install(FILES ${VYN_PAGE_SOURCE}/node_modules/uplot/LICENSE
  DESTINATION page/node_modules/uplot)
if(WIN32)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/windows-install.txt DESTINATION . RENAME INSTALL.txt)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME vyn-spectator-${PROJECT_VERSION}-win32)
else()
  set(CPACK_GENERATOR TGZ)
  set(CPACK_PACKAGE_FILE_NAME vyn-spectator-${PROJECT_VERSION}-linux-${VYN_ARCH})
endif()
set(CPACK_PACKAGE_NAME vyn-spectator)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# The archives carry the programs without their symbol tables: users get no
# use of them, and they are most of the programs' size.
set(CPACK_STRIP_FILES ON)
set(CPACK_OUTPUT_FILE_PREFIX ${PROJECT_SOURCE_DIR}/dist)
include(CPack)
