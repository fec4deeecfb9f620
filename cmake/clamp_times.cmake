# Run by cpack once it has staged the package's files: every file and
# folder gets the time SOURCE_DATE_EPOCH (scripts/release.sh sets it) and
# the modes a umask of 022 gives, so that the archives carry neither the
# build's times nor the builder's umask.
file(GLOB_RECURSE staged LIST_DIRECTORIES true
  "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
execute_process(
  COMMAND chmod u=rwX,go=rX ${CPACK_TEMPORARY_INSTALL_DIRECTORY} ${staged}
  COMMAND_ERROR_IS_FATAL ANY)
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(
    COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH}
      ${CPACK_TEMPORARY_INSTALL_DIRECTORY} ${staged}
    COMMAND_ERROR_IS_FATAL ANY)
endif()
