# Minifies the app jar as an app's release build would (app.pro, and the library's keep rules
# RULES unless empty), runs it against the built library and compares its output with
# expected.txt. Twice: with ProGuard's optimizer (which drops fields it never sees written) and
# without (renaming alone). With -DRULES= the same run shows what an app without the rules gets.
#
#   cmake -DPROGUARD=... -DJAVA=... -DAPP_JAR=... -DBASE_JAR=... -DLIBRARY_DIR=... -DWORK=...
#         -DRULES=... -P minify.cmake
set(config -include "${CMAKE_CURRENT_LIST_DIR}/app.pro")
if(RULES)
  list(APPEND config -include "${RULES}")
endif()
set(injars -injars "${APP_JAR}")
if(LIBRARY_JAR)
  list(APPEND injars -injars "${LIBRARY_JAR}")
endif()
file(READ "${CMAKE_CURRENT_LIST_DIR}/expected.txt" expected)
file(REMOVE_RECURSE "${WORK}")

foreach(variant optimized renamed-only)
  set(dir "${WORK}/${variant}")
  file(MAKE_DIRECTORY "${dir}/files")
  set(options "")
  if(variant STREQUAL "renamed-only")
    set(options -dontoptimize)
  endif()
  execute_process(
    COMMAND ${PROGUARD} ${injars} -outjars "${dir}/app-min.jar"
            -libraryjars "${BASE_JAR}" ${config} ${options} -printmapping "${dir}/mapping.txt"
    RESULT_VARIABLE rc OUTPUT_VARIABLE log ERROR_VARIABLE log)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ProGuard failed (${variant}):\n${log}")
  endif()
  file(READ "${dir}/mapping.txt" mapping)
  if(NOT mapping MATCHES " -> [a-z]\n")
    message(FATAL_ERROR "ProGuard renamed nothing (${variant}); mapping:\n${mapping}")
  endif()

  execute_process(
    COMMAND ${JAVA} -Xcheck:jni --enable-native-access=ALL-UNNAMED
            "-Djava.library.path=${LIBRARY_DIR}" -cp "${dir}/app-min.jar"
            com.zelk.kiv.minify.MinifiedApp "${dir}/files"
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL expected OR err MATCHES "WARNING in native method")
    message("--- expected:\n${expected}--- output:\n${out}--- standard error:\n${err}"
            "--- ProGuard's mapping:\n${mapping}")
    message(FATAL_ERROR "The minified app (${variant}) failed, exit code ${rc}")
  endif()
  message(STATUS "The minified app (${variant}) ran as expected:\n${out}")
endforeach()
