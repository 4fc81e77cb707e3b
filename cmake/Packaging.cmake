# Installation and packages: the tool and its manual page. CPack makes a .deb
# and a .tar.gz on Linux and a .zip from the Windows build; run `cpack` in the
# build folder.
include(GNUInstallDirs)
install(TARGETS zelvrin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/docs/zelvrin.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(ZELVRIN_PACKAGE_MAINTAINER "zelvrin maintainers <zelvrin@example.org>" CACHE STRING
    "Maintainer named in the packages")

set(CPACK_PACKAGE_NAME zelvrin)
set(CPACK_PACKAGE_VENDOR zelvrin)
set(CPACK_PACKAGE_CONTACT "${ZELVRIN_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "zelvrin walks every disk of a D88 floppy-disk image, reads the game's volume directory "
       "on each, prints one report line per file and writes each file, stored or expanded from "
       "LZSS, into the current directory.")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_STRIP_FILES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB TGZ)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZELVRIN_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
find_program(ZELVRIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(ZELVRIN_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libgcc-s1, libstdc++6")
endif()

include(CPack)
