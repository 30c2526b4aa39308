# Fails when a shipped file holds debug sections, or lacks the link to its debug file, or that
# file is missing.
foreach(file Kelvane.exe KelvaneLangEN.dll KelvaneLangZH.dll TactraConsole.exe TactraConsoleLangEN.dll
             TactraConsoleLangZH.dll tactractl.exe)
  execute_process(COMMAND ${OBJDUMP} -h ${BIN}/${file} OUTPUT_VARIABLE sections RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${file}: cannot read its sections")
  endif()
  if(sections MATCHES "\\.debug_")
    message(FATAL_ERROR "${file} still carries debug sections")
  endif()
  if(NOT sections MATCHES "\\.gnu_debuglink" OR NOT EXISTS ${BIN}/${file}.debug)
    message(FATAL_ERROR "${file} names no debug file beside it")
  endif()
endforeach()
