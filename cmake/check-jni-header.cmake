# Fails when the committed NativeLoader JNI header (COMMITTED) differs from the one javac just
# generated (GENERATED); touches STAMP when they match.
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files --ignore-eol "${GENERATED}" "${COMMITTED}"
  RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR
    "The JNI header generated from NativeLoader.java differs from the committed one:\n"
    "  generated: ${GENERATED}\n"
    "  committed: ${COMMITTED}\n"
    "If the Java declarations changed on purpose, copy the generated header over the committed "
    "one and update the native methods to match.")
endif()
file(TOUCH "${STAMP}")
