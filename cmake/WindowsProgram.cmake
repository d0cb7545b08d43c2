# What a Windows program carries besides its code: the icon, the version information (from the
# project's version, as the window's caption and --version show it) and its application
# manifest, compiled by windres; and a link map, the one record of what the static run-time
# brought in once the program is stripped (.ci/run reads it).
function(vornel_windows_program target description manifest)
  set(VORNEL_PROGRAM ${target})
  set(VORNEL_DESCRIPTION ${description})
  set(VORNEL_ICON ${PROJECT_SOURCE_DIR}/resources/windows/vornel.ico)
  set(VORNEL_MANIFEST ${PROJECT_SOURCE_DIR}/resources/windows/${manifest})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/resources/windows/Program.rc.in ${rc} @ONLY)
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS
                              "${VORNEL_ICON};${VORNEL_MANIFEST};${VORNEL_VERSION_HEADER}")
  target_sources(${target} PRIVATE ${rc})
  target_link_options(${target} PRIVATE -Wl,-Map=${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${target}.exe.map)
endfunction()
