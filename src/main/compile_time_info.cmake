# Writes build/compile_time_info.cc with the commit being built. Run at every
# build; configure_file leaves the file untouched when nothing changed, so only
# a new commit recompiles it.
execute_process(COMMAND git rev-parse --short=12 HEAD
  WORKING_DIRECTORY ${SRC} OUTPUT_VARIABLE VORTAN_GIT_COMMIT
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
execute_process(COMMAND git log -1 --format=%cd
  WORKING_DIRECTORY ${SRC} OUTPUT_VARIABLE VORTAN_GIT_DATE
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT VORTAN_GIT_COMMIT)
  set(VORTAN_GIT_COMMIT "unknown")
  set(VORTAN_GIT_DATE "unknown")
endif()
set(VORTAN_COMPILER_FLAGS "${FLAGS}")
configure_file(${IN} ${OUT} @ONLY)
