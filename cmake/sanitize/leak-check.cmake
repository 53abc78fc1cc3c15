# Sanitizer lane (the "asan" preset includes this file through CMAKE_PROJECT_kiv_INCLUDE).
# Adds kiv_leak_check, a test that leaks on purpose inside a running JVM and passes only if
# LeakSanitizer, with the lane's suppressions of the JVM's own leaks (lsan.supp), still reports
# that one leak. The targets it needs exist only at the end of the top-level CMakeLists.txt,
# hence the deferred call.
include_guard(GLOBAL)
set(KIV_SANITIZE_DIR "${CMAKE_CURRENT_LIST_DIR}")

function(kiv_add_leak_check)
  if(NOT KIV_TESTS OR NOT KIV_JAVA)
    return()
  endif()
  add_jar(kiv-leak-probe SOURCES "${KIV_SANITIZE_DIR}/LeakProbe.java" OUTPUT_NAME kiv-leak-probe)
  get_target_property(_kiv_jar kiv-java JAR_FILE)
  get_target_property(_probe_jar kiv-leak-probe JAR_FILE)
  add_executable(kiv_leak_check "${KIV_SANITIZE_DIR}/leak_check.cpp")
  target_include_directories(kiv_leak_check PRIVATE ${KIV_JNI_INCLUDE_DIRS})
  target_compile_definitions(kiv_leak_check PRIVATE
    KIV_LEAK_CHECK_CLASSPATH="${_kiv_jar}:${_probe_jar}"
    KIV_LEAK_CHECK_LIBRARY_DIR="$<TARGET_FILE_DIR:kiv-native-lib>")
  target_link_libraries(kiv_leak_check PRIVATE ${KIV_JVM_LIBRARY})
  add_dependencies(kiv_leak_check kiv-native-lib kiv-java kiv-leak-probe)
  add_test(NAME leak_check_catches_our_leaks
    COMMAND ${CMAKE_COMMAND} -DEXE=$<TARGET_FILE:kiv_leak_check>
            -P "${KIV_SANITIZE_DIR}/run-leak-check.cmake")
endfunction()

cmake_language(DEFER CALL kiv_add_leak_check)
