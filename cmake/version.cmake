# Writes OUT from cmake/version.cc.in with the release number VERSION and the commit of the source
# tree SOURCE_DIR that GIT names ("unknown" without git or outside a checkout). The file is rewritten
# only when its text changes, so an unchanged commit rebuilds nothing.
#   cmake -DSOURCE_DIR=... -DOUT=... -DVERSION=1.1.0 [-DGIT=/usr/bin/git] -P cmake/version.cmake
set(QUORDA_VERSION "${VERSION}")
set(QUORDA_COMMIT unknown)
if(GIT)
  execute_process(COMMAND "${GIT}" describe --always --dirty --abbrev=7
                  WORKING_DIRECTORY "${SOURCE_DIR}"
                  RESULT_VARIABLE status
                  OUTPUT_VARIABLE commit
                  OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET)
  if(status EQUAL 0 AND NOT commit STREQUAL "")
    set(QUORDA_COMMIT "${commit}")
  endif()
endif()
configure_file("${SOURCE_DIR}/cmake/version.cc.in" "${OUT}" @ONLY)
