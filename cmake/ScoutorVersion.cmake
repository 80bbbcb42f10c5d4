# The file version record of an executable: four 16-bit numbers in an ELF note
# (".note.scoutor.version", owner "Scoutor", type 1) that the program reads back from its own
# file at run time (ui/VersionRecord.h).
set(SCOUTOR_FILE_VERSION "5.0.0.0" CACHE STRING
    "File version stamped into the desktop program: major.minor.release.build")

# scoutor_stamp_version(TARGET [VERSION]): stamps VERSION (default SCOUTOR_FILE_VERSION).
function(scoutor_stamp_version target)
  set(version ${SCOUTOR_FILE_VERSION})
  if(ARGC GREATER 1)
    set(version ${ARGV1})
  endif()
  if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    message(FATAL_ERROR "file version '${version}' is not four numbers joined by dots")
  endif()
  foreach(i RANGE 1 4)
    if(CMAKE_MATCH_${i} GREATER 65535)
      message(FATAL_ERROR "file version '${version}': each number must fit 16 bits")
    endif()
    set(VERSION_${i} ${CMAKE_MATCH_${i}})
  endforeach()
  set(source ${CMAKE_CURRENT_BINARY_DIR}/${target}_version_note.c)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/VersionNote.c.in ${source} @ONLY)
  target_sources(${target} PRIVATE ${source})
endfunction()
