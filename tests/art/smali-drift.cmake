# The comparison of the smali classes with the Java ones fails on each kind of drift: a field
# renamed, a native's descriptor changed, a method's modifiers changed, a member missing.
#   cmake -DJAVAP=... -DCLASSPATH=kiv.jar -DSMALI_DIR=java/art -DWORK=dir -DCHECK=check-smali.cmake
#         -P smali-drift.cmake
set(classes "com.zelk.kiv.jni.NativeLoader,com.zelk.kiv.jni.JniModel")
function(run_check dir out)
  execute_process(COMMAND ${CMAKE_COMMAND} "-DJAVAP=${JAVAP}" "-DCLASSPATH=${CLASSPATH}"
    "-DCLASSES=${classes}" "-DSMALI_DIR=${dir}" "-DSTAMP=${WORK}/stamp" -P "${CHECK}"
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_QUIET)
  set(${out} ${rc} PARENT_SCOPE)
endfunction()

run_check("${SMALI_DIR}" rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the committed smali classes do not match the Java ones")
endif()

set(file com/zelk/kiv/jni)
foreach(drift
    "JniModel|.field public msg:|.field public message:"
    "JniModel|.field public code:I|.field public code:J"
    "NativeLoader|encodeKeyValue(I)I|encodeKeyValue(J)I"
    "NativeLoader|.method public static native test()|.method public native test()"
    "NativeLoader|.method public static native queryFile|.method public static native queryFiles"
    "JniModel|.method public toString()|.method private toString()")
  string(REPLACE "|" ";" parts "${drift}")
  list(GET parts 0 class)
  list(GET parts 1 from)
  list(GET parts 2 to)
  file(REMOVE_RECURSE "${WORK}/smali")
  file(COPY "${SMALI_DIR}/" DESTINATION "${WORK}/smali")
  file(READ "${WORK}/smali/${file}/${class}.smali" text)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${class}.smali has no '${from}' to change")
  endif()
  string(REPLACE "${from}" "${to}" text "${text}")
  file(WRITE "${WORK}/smali/${file}/${class}.smali" "${text}")
  run_check("${WORK}/smali" rc)
  if(rc EQUAL 0)
    message(FATAL_ERROR "changing '${from}' to '${to}' in ${class}.smali went unnoticed")
  endif()
endforeach()
