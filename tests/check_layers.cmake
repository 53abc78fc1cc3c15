# The source tree's layers, kept: only jni/ sees <jni.h> (or the generated NativeLoader header),
# and each folder of the library includes only the folders below it:
#   jni/ -> identity/ -> store/ -> text/, codec/, sys/
# The tool (tools/) uses the core and never the Java layer.
#   cmake -DSOURCE_DIR=... -P check_layers.cmake
cmake_minimum_required(VERSION 3.22)
set(_allowed_codec codec kiv)
set(_allowed_sys sys)
set(_allowed_text text)
set(_allowed_store store text codec kiv sys)
set(_allowed_identity identity store text codec kiv sys)
set(_allowed_tools tools identity store text codec kiv sys)
set(_allowed_include kiv)

set(_failures "")
foreach(_folder codec sys text store identity tools include)
  file(GLOB_RECURSE _files "${SOURCE_DIR}/${_folder}/*.h" "${SOURCE_DIR}/${_folder}/*.cpp")
  foreach(_file IN LISTS _files)
    file(STRINGS "${_file}" _includes REGEX "^#include ")
    file(RELATIVE_PATH _name "${SOURCE_DIR}" "${_file}")
    foreach(_line IN LISTS _includes)
      if(_line MATCHES "<jni\\.h>|com_zelk_kiv_jni_")
        list(APPEND _failures "${_name}: ${_line} (only jni/ may see JNI)")
      else()
        # The project's own headers are included with quotes, the public one as <kiv/...>.
        set(_dir "")
        if(_line MATCHES "^#include \"([a-z_]+)/")
          set(_dir "${CMAKE_MATCH_1}")
        elseif(_line MATCHES "^#include <(kiv)/")
          set(_dir kiv)
        endif()
        if(_dir AND NOT _dir IN_LIST _allowed_${_folder})
          list(APPEND _failures "${_name}: ${_line} (${_folder}/ may not depend on ${_dir}/)")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()

if(_failures)
  list(JOIN _failures "\n  " _text)
  message(FATAL_ERROR "Layering broken:\n  ${_text}")
endif()
message(STATUS "Layers kept")
