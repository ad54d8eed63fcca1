# Run by cpack on its staging folder: lays out the documentation as a Debian
# package keeps it, manual pages and change log compressed and the licence as
# the copyright file.
set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX})
set(doc ${root}/share/doc/ringwarden)
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The copyright file in Debian's machine-readable form, with the licence's
# terms after its copyright line, each line indented and each blank line a dot.
file(READ ${doc}/LICENSE licence)
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" terms "${licence}")
string(REGEX REPLACE "\n$" "" terms "${terms}")
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(READ ${CPACK_RINGWARDEN_COPYRIGHT_HEAD} head)
file(WRITE ${doc}/copyright "${head} ${terms}\n")
file(REMOVE ${doc}/LICENSE)
file(COPY ${CPACK_RINGWARDEN_CHANGELOG} DESTINATION ${doc} FILE_PERMISSIONS ${readable})
file(GLOB pages ${root}/share/man/man1/*.1)
foreach(file ${pages} ${doc}/changelog)
  # -n leaves the name and time out of the header, so the package is the same
  # from one build to the next.
  execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
