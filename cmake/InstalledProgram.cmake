# ringwarden_link_installed: the second link of a Linux program, for installation.
#
# A program looks for the supervisor library beside itself first, then
# through the dynamic linker's search. The build tree's program needs no run
# path, since its library lies beside it, and a run path costs every start a
# search of its folder for the C library (two dozen failed lookups). The
# installed program is linked a second time, as TARGET_installed in
# to-install/, with the run path that names the library's installed folder;
# it is built with it, since padding a run path for a rewrite at install
# leaves empty entries, which the dynamic linker takes for the working
# folder. A run path (DT_RUNPATH), not an rpath, so that LD_LIBRARY_PATH
# still comes first.
#
# usage: ringwarden_link_installed(TARGET RUNPATH LIBRARY SOURCES...)
function(ringwarden_link_installed target runpath library)
  add_executable(${target}_installed ${ARGN})
  target_link_libraries(${target}_installed PRIVATE ${library})
  set_target_properties(${target}_installed PROPERTIES
    OUTPUT_NAME ${target} RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/to-install
    INSTALL_RPATH "${runpath}" BUILD_WITH_INSTALL_RPATH ON)
  target_link_options(${target}_installed PRIVATE -Wl,--enable-new-dtags)
  if(NOT RINGWARDEN_SANITIZE)
    # Start-up cost is the tool's speed: no shared C++ runtime to map and relocate.
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
    target_link_options(${target}_installed PRIVATE -static-libstdc++ -static-libgcc)
  endif()
endfunction()
