# Run by cpack once it has staged the package's files: every file and
# folder gets the time SOURCE_DATE_EPOCH, so that the archives do not carry
# the build's or the checkout's times (scripts/release.sh sets it).
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  file(GLOB_RECURSE staged LIST_DIRECTORIES true
    "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
  execute_process(
    COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH}
      ${CPACK_TEMPORARY_INSTALL_DIRECTORY} ${staged}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
