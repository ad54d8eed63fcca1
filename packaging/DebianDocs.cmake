# Run by cpack on its staging folder, which holds one folder per package:
# lays out each package's documentation as Debian keeps it, manual pages and
# change log compressed and the licence as the copyright file.
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# The copyright file in Debian's machine-readable form, with the licence's
# terms after its copyright line, each line indented and each blank line a dot.
file(READ ${CPACK_RINGWARDEN_LICENSE} licence)
string(REGEX REPLACE "^.*Copyright[^\n]*\n\n" "" terms "${licence}")
string(REGEX REPLACE "\n$" "" terms "${terms}")
string(REPLACE "\n\n" "\n.\n" terms "${terms}")
string(REPLACE "\n" "\n " terms "${terms}")
file(READ ${CPACK_RINGWARDEN_COPYRIGHT_HEAD} head)

foreach(component package IN ZIP_LISTS CPACK_COMPONENTS_ALL CPACK_RINGWARDEN_PACKAGES)
  set(root ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  set(doc ${root}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(WRITE ${doc}/copyright "${head} ${terms}\n")
  file(REMOVE ${doc}/LICENSE)
  file(COPY ${CPACK_RINGWARDEN_CHANGELOG} DESTINATION ${doc} FILE_PERMISSIONS ${readable})
  file(GLOB pages ${root}/share/man/man1/*.1)
  foreach(file ${pages} ${doc}/changelog)
    # -n leaves the name and time out of the header, so the package is the same
    # from one build to the next.
    execute_process(COMMAND gzip -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endforeach()
