# Installation and the packages: `cmake --install` and, through CPack, a zip
# for Windows (the windows-release preset) and a Debian package for Linux
# (the linux-release preset): `cmake --build --preset X --target package`.
include(GNUInstallDirs)

install(TARGETS twinsift RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  # A portable folder: bin\twinsift.exe, with the documents at its top.
  set(TWINSIFT_DOC_DIR .)
else()
  # Debian's place, named after the package, with the licence also as the
  # copyright file every package carries there.
  set(TWINSIFT_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/twinsift)
  install(FILES LICENSE DESTINATION ${TWINSIFT_DOC_DIR} RENAME copyright)
endif()
install(FILES README.md LICENSE DESTINATION ${TWINSIFT_DOC_DIR})

set(CPACK_PACKAGE_NAME twinsift)
set(CPACK_PACKAGE_VENDOR "The TwinSift authors")
set(CPACK_PACKAGE_CONTACT "The TwinSift authors")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "duplicate-file finder that writes its report as a batch file")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${CMAKE_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps (dpkg-dev) finds the libraries the program links:
  # libcrypto's package among them.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The summary above is the package's one-line synopsis; this the text
  # below it.
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "TwinSift finds files with identical contents, whatever their names. It
groups the files by size, computes a SHA-256 digest only of files whose
size is shared with another file, and prints every set of identical files
as a batch file: REM lines for the copies kept, del lines for the copies
to erase. With -d it erases the copies itself.")
endif()
include(CPack)
