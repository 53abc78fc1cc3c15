# classes.jar of the Android archive: NativeLoader and JniModel compiled for Java 8, the class
# file version (52) that every Android toolchain's dexer reads, and the licence as
# META-INF/LICENSE.
#
#   cmake -DJAVAC=... -DJAR=... "-DSOURCES=<a.java|b.java>" -DLICENSE=<file> -DOUT=<classes.jar>
#         -DWORK=<folder> -P classes-jar.cmake
string(REPLACE "|" ";" SOURCES "${SOURCES}")
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
# -options: JDK 21 and later warn that Java 8 is obsolete; it is chosen on purpose.
execute_process(
  COMMAND "${JAVAC}" --release 8 -Xlint:all,-options -Werror -d "${WORK}" ${SOURCES}
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "javac failed")
endif()
configure_file("${LICENSE}" "${WORK}/META-INF/LICENSE" COPYONLY)
execute_process(
  COMMAND "${CMAKE_COMMAND}" "-DJAR=${JAR}" "-DDIR=${WORK}" "-DOUT=${OUT}"
          -P "${CMAKE_CURRENT_LIST_DIR}/zip.cmake"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "could not write ${OUT}")
endif()
