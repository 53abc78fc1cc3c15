# Writes every file under DIR to the zip archive OUT (a jar, an AAR, a plain zip) so that the same
# files always give the same bytes: entries sorted by name, no directory entries, one fixed
# timestamp, no owners or permissions (the JDK's jar tool stores none).
#
#   cmake -DJAR=<jar tool> -DDIR=<folder> -DOUT=<archive> -P zip.cmake
file(GLOB_RECURSE files RELATIVE "${DIR}" "${DIR}/*")
if(NOT files)
  message(FATAL_ERROR "nothing to archive in ${DIR}")
endif()
list(SORT files)
set(args "")
foreach(f IN LISTS files)
  list(APPEND args -C "${DIR}" "${f}")
endforeach()
file(REMOVE "${OUT}")
execute_process(
  COMMAND "${JAR}" --create --no-manifest --date=1980-02-01T00:00:00Z --file "${OUT}" ${args}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${JAR} failed to write ${OUT}")
endif()
