# Man page and bash completion of a command-line program, made from its --help when it is
# built, so that neither can fall behind the program's options. The man page adds the
# hand-written sections of <target>.h2m beside the program's sources.
find_program(SCOUTOR_HELP2MAN help2man)
find_package(Python3 COMPONENTS Interpreter)
if(NOT SCOUTOR_HELP2MAN OR NOT Python3_Interpreter_FOUND)
  message(WARNING "help2man or python3 is missing: the programs' man pages and bash completion are not built")
endif()

function(scoutor_tool_docs target description)
  if(NOT SCOUTOR_HELP2MAN OR NOT Python3_Interpreter_FOUND)
    return()
  endif()
  set(page ${CMAKE_CURRENT_BINARY_DIR}/${target}.1)
  set(completion ${CMAKE_CURRENT_BINARY_DIR}/completion/${target})
  set(sections ${CMAKE_CURRENT_SOURCE_DIR}/${target}.h2m)
  add_custom_command(
    OUTPUT ${page}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/manpage.py $<TARGET_FILE:${target}>
            --description ${description} --include ${sections} --output ${page}
    DEPENDS ${target} ${sections} ${PROJECT_SOURCE_DIR}/scripts/manpage.py
            ${PROJECT_SOURCE_DIR}/scripts/cli_help.py
    COMMENT "Writing the man page of ${target}"
    VERBATIM)
  add_custom_command(
    OUTPUT ${completion}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/completion
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/bash_completion.py
            $<TARGET_FILE:${target}> ${completion}
    DEPENDS ${target} ${PROJECT_SOURCE_DIR}/scripts/bash_completion.py
            ${PROJECT_SOURCE_DIR}/scripts/cli_help.py
    COMMENT "Writing the bash completion of ${target}"
    VERBATIM)
  # Installed compressed, as Debian keeps its man pages.
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND gzip -9 -n -f -k ${page}
    DEPENDS ${page}
    VERBATIM)
  add_custom_target(${target}_docs ALL DEPENDS ${page}.gz ${completion})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${completion} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
endfunction()
