# Installation and the packages: `cmake --install` and, through CPack, a zip
# for Windows (the windows-release preset) and a Debian package for Linux
# (the linux-release preset): `cmake --build --preset X --target package`.
include(GNUInstallDirs)

# The package's contact, also the signer of the Debian changelog's entries:
# a role address under the reserved .invalid domain, which names no person
# and receives no mail.
set(TWINSIFT_MAINTAINER "TwinSift Maintainers <maintainers@twinsift.invalid>")

install(TARGETS twinsift twinsift-view RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  # A portable folder: bin\twinsift.exe and bin\twinsift-view.exe, with the
  # documents at its top.
  install(FILES README.md LICENSE CHANGELOG.md DESTINATION .)
else()
  # Debian's places: the documents in a folder named after the package, the
  # licence once, as the copyright file every package carries there; the
  # manual page and the changelog (in Debian's format, made from
  # CHANGELOG.md) gzip'd at the highest level without name or time.
  set(doc_dir ${CMAKE_INSTALL_DATAROOTDIR}/doc/twinsift)
  set(gen ${CMAKE_BINARY_DIR}/packaging)
  file(MAKE_DIRECTORY ${gen})
  find_program(GZIP gzip REQUIRED)
  set(man_pages twinsift twinsift-view)
  set(man_gz)
  foreach(page ${man_pages})
    add_custom_command(
      OUTPUT ${gen}/${page}.1.gz
      COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/docs/${page}.1
              ${gen}/${page}.1
      COMMAND ${GZIP} -9nf ${gen}/${page}.1
      DEPENDS docs/${page}.1
      VERBATIM)
    list(APPEND man_gz ${gen}/${page}.1.gz)
  endforeach()
  add_custom_command(
    OUTPUT ${gen}/changelog.gz
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/debian-changelog.sh
            ${CMAKE_SOURCE_DIR}/CHANGELOG.md ${PROJECT_VERSION}
            ${TWINSIFT_MAINTAINER} ${gen}/changelog.gz
    DEPENDS CHANGELOG.md scripts/debian-changelog.sh
    VERBATIM)
  add_custom_target(twinsift_docs DEPENDS ${man_gz} ${gen}/changelog.gz)
  # Installing after building only the program finds them made.
  add_dependencies(twinsift twinsift_docs)
  install(FILES README.md DESTINATION ${doc_dir})
  install(FILES LICENSE DESTINATION ${doc_dir} RENAME copyright)
  install(FILES ${gen}/changelog.gz DESTINATION ${doc_dir})
  install(FILES ${man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME twinsift)
set(CPACK_PACKAGE_VENDOR "The TwinSift authors")
set(CPACK_PACKAGE_CONTACT "${TWINSIFT_MAINTAINER}")
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
to erase. With -d it erases the copies itself. twinsift-view turns a saved
report into an HTML page that shows each set's pictures side by side.")
endif()
include(CPack)
