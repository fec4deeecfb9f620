# The publisher's kit as `cmake --install` lays it out, and the packages
# cpack makes of it (scripts/release.sh makes both).
#
# Native build: bin/mkupdate, its man page, the docs in share/doc/mkupdate;
# with UPDATER_WINDOWS_STUBS (the publisher preset) also the Windows stubs,
# built here with MinGW-w64: share/mkupdate/i686/updater.exe, the product,
# and share/mkupdate/x86_64/updater.exe. cpack makes a .deb of it.
# Windows build: mkupdate.exe and updater.exe side by side, the docs in
# docs/. cpack makes a .zip of it for publishers on Windows.
include(GNUInstallDirs)

set(MKUPDATE_DOCS
  docs/publishing.md
  docs/mkupdate-json.md
  docs/mkupdate-check.schema.json
  docs/mkupdate-list.schema.json
  docs/mkupdate-pack.schema.json
  docs/mkupdate-verify.schema.json
)
list(TRANSFORM MKUPDATE_DOCS PREPEND ${PROJECT_SOURCE_DIR}/)

set(CPACK_PACKAGE_NAME mkupdate)
set(CPACK_PACKAGE_VENDOR Orvane)
set(CPACK_PACKAGE_CONTACT "Orvane <publishing@orvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "makes, lists and checks updates of Lumenhollow")

if(WIN32)
  install(TARGETS mkupdate updater RUNTIME DESTINATION .)
  install(FILES ${MKUPDATE_DOCS} DESTINATION docs)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME mkupdate-${PROJECT_VERSION}-windows)
else()
  install(TARGETS mkupdate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # The man page compressed, as Debian keeps them; -n: no name, no time in
  # the gzip header.
  configure_file(docs/mkupdate.1.in mkupdate.1 @ONLY)
  add_custom_command(OUTPUT mkupdate.1.gz
    COMMAND gzip -9nkf mkupdate.1
    DEPENDS ${PROJECT_BINARY_DIR}/mkupdate.1
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR})
  add_custom_target(man_page ALL DEPENDS mkupdate.1.gz)
  install(FILES ${PROJECT_BINARY_DIR}/mkupdate.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${MKUPDATE_DOCS} docs/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mkupdate)

  option(UPDATER_WINDOWS_STUBS
    "Also build the Windows stubs with MinGW-w64 and install them" OFF)
  if(UPDATER_WINDOWS_STUBS)
    # This source again, built for Windows in a folder of its own: the
    # updater (the stub) and mkupdate.exe, nothing of the tests.
    include(ExternalProject)
    # Under make, make's own jobs: the outer build's -j holds for both.
    if(CMAKE_GENERATOR MATCHES "Make")
      set(build_stubs $(MAKE) updater mkupdate)
    else()
      set(build_stubs ${CMAKE_COMMAND} --build . --target updater mkupdate)
    endif()
    foreach(arch i686 x86_64)
      set(dir ${PROJECT_BINARY_DIR}/windows-${arch})
      ExternalProject_Add(windows_${arch}
        SOURCE_DIR ${PROJECT_SOURCE_DIR}
        BINARY_DIR ${dir}
        CMAKE_ARGS
          -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-${arch}.cmake
          -DCMAKE_BUILD_TYPE=MinSizeRel
          -DBUILD_TESTING=OFF
        BUILD_COMMAND ${build_stubs}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON
      )
      install(FILES ${dir}/updater.exe
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mkupdate/${arch})
    endforeach()
  endif()

  set(CPACK_GENERATOR DEB)
  # The native mkupdate, built with debug information, goes stripped. (Not
  # so the Windows programs: linked stripped, they would only come out
  # other bytes than the build's.)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_PACKAGE_DESCRIPTION
    "mkupdate packs the files of a new release of the game into an update \
executable (the updater stub with its payload), lists what an update \
carries, checks an installed game folder against its verification \
list, installs an update into a folder as the updater would, and tries an \
update on a copy of every old release before it ships. The Windows stubs \
are in /usr/share/mkupdate.")
endif()
# cpack gives every file in the archives the time SOURCE_DATE_EPOCH where it
# is set (scripts/release.sh sets it), not the build's.
include(CPack)
