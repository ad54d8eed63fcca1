# The Windows release: ringwarden-VERSION-win32.zip, holding the stripped program and its README.TXT.
# Built by the target windows_release (scripts/build-windows builds it).
set(RINGWARDEN_RELEASE_ZIP ${PROJECT_BINARY_DIR}/ringwarden-${PROJECT_VERSION}-win32.zip)
# The text is read under MS-DOS and Windows 98: CR LF line ends.
configure_file(${PROJECT_SOURCE_DIR}/resources/README.TXT.in ${PROJECT_BINARY_DIR}/release/README.TXT
               @ONLY NEWLINE_STYLE CRLF)
add_custom_command(OUTPUT ${RINGWARDEN_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:ringwarden> ${PROJECT_BINARY_DIR}/release/ringwarden.exe
  COMMAND ${CMAKE_COMMAND} -E rm -f ${RINGWARDEN_RELEASE_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${RINGWARDEN_RELEASE_ZIP} --format=zip ringwarden.exe README.TXT
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}/release
  DEPENDS ringwarden ${PROJECT_BINARY_DIR}/release/README.TXT
  VERBATIM)
add_custom_target(windows_release DEPENDS ${RINGWARDEN_RELEASE_ZIP})
