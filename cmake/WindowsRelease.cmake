# The Windows release: ringwarden-VERSION-win32.zip, holding the stripped program, its README.TXT and
# the FILE_ID.DIZ that archives of its era carry, the few lines a download site or a BBS shows.
# Built by the target windows_release (scripts/build-windows builds it).
set(RINGWARDEN_RELEASE_ZIP ${PROJECT_BINARY_DIR}/ringwarden-${PROJECT_VERSION}-win32.zip)
# The texts are read under MS-DOS and Windows 98: CR LF line ends.
foreach(text README.TXT FILE_ID.DIZ)
  configure_file(${PROJECT_SOURCE_DIR}/resources/${text}.in ${PROJECT_BINARY_DIR}/release/${text} @ONLY NEWLINE_STYLE CRLF)
endforeach()
add_custom_command(OUTPUT ${RINGWARDEN_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ringwarden> ${PROJECT_BINARY_DIR}/release/ringwarden.exe
  COMMAND ${CMAKE_COMMAND} -E rm -f ${RINGWARDEN_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${RINGWARDEN_RELEASE_ZIP} --format=zip ringwarden.exe README.TXT FILE_ID.DIZ
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/release
  DEPENDS ringwarden ${PROJECT_BINARY_DIR}/release/README.TXT ${PROJECT_BINARY_DIR}/release/FILE_ID.DIZ
  VERBATIM)
add_custom_target(windows_release DEPENDS ${RINGWARDEN_RELEASE_ZIP})
