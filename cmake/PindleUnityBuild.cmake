# pindle_unity_batches(<target>...)
#
# With PINDLE_UNITY_BUILD, CI compiles each target's sources in batches, each batch as one file
# that includes them all, so the standard library's and our own headers are parsed once per
# batch instead of once per source. Developers build file by file (the default), where a
# missing include still shows.
#
# A source that includes a C library's own headers, or one of ours that does (the tables of
# FFmpeg's or libpulse's functions, the display's SDL and X11 code), is compiled alone: those
# headers define macros (X11's `Status`, the tables' `av_*` and `pa_*` names) that would reach
# every source after it in its batch. Call this once a target has all its sources.
set(PINDLE_UNITY_C_HEADERS
  "X11/|SDL|pulse/|curl/|libav[a-z]*/|libsw[a-z]*/|systemd/|ft2build|fontconfig/|hb[.-]|unicode/|duktape")

# Sets <out> to a pattern matching the include of a C library's header or of one of ours that
# includes such a header, however indirectly. Our headers are matched by file name.
function(pindle_unity_clashing_includes out)
  get_property(pattern GLOBAL PROPERTY pindle_unity_clashing_includes)
  if(pattern)
    set(${out} ${pattern} PARENT_SCOPE)
    return()
  endif()
  set(pattern ${PINDLE_UNITY_C_HEADERS})
  file(GLOB_RECURSE headers ${PROJECT_SOURCE_DIR}/platform/*.hpp ${PROJECT_SOURCE_DIR}/PindleCore/*.hpp
       ${PROJECT_SOURCE_DIR}/PindlePlayer/*.hpp ${PROJECT_SOURCE_DIR}/tools/*.hpp
       ${PROJECT_SOURCE_DIR}/tests/*.hpp ${PROJECT_SOURCE_DIR}/examples/*.hpp)
  set(changed TRUE)
  while(changed)
    set(changed FALSE)
    foreach(header ${headers})
      file(STRINGS ${header} hit REGEX "^#include [<\"](.*/)?(${pattern})" LIMIT_COUNT 1)
      if(hit)
        get_filename_component(name ${header} NAME)
        string(REPLACE "." "\\." name ${name})
        string(APPEND pattern "|${name}")
        list(REMOVE_ITEM headers ${header})
        set(changed TRUE)
      endif()
    endforeach()
  endwhile()
  set_property(GLOBAL PROPERTY pindle_unity_clashing_includes ${pattern})
  set(${out} ${pattern} PARENT_SCOPE)
endfunction()

function(pindle_unity_batches)
  if(NOT PINDLE_UNITY_BUILD)
    return()
  endif()
  pindle_unity_clashing_includes(pattern)
  foreach(target ${ARGN})
    get_target_property(sources ${target} SOURCES)
    get_target_property(source_dir ${target} SOURCE_DIR)
    foreach(source ${sources})
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} OUTPUT_VARIABLE path)
      # Generated sources (the embedded resources) are left as they are.
      if(NOT path MATCHES "\\.cpp$" OR path MATCHES "^${PROJECT_BINARY_DIR}/")
        continue()
      endif()
      file(STRINGS ${path} hit REGEX "^#include [<\"](.*/)?(${pattern})" LIMIT_COUNT 1)
      if(hit)
        set_source_files_properties(${path} TARGET_DIRECTORY ${target}
                                    PROPERTIES SKIP_UNITY_BUILD_INCLUSION ON)
      endif()
    endforeach()
  endforeach()
endfunction()
