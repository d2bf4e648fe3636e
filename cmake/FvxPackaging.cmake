# Installation and the Debian package (cpack -G DEB).
#
# The programs live together in one folder with their image plug-ins
# (ImagePlugins/) and the share folder beside it, as they do in the build:
#   /usr/lib/folivox/bin/{fvx,FvxC,Folivox3,FvxDownloader,ImagePlugins/}
#   /usr/lib/folivox/share/folivox/   (the manual, found as ../share/folivox)
#   /usr/bin/<program> -> ../lib/folivox/bin/<program>
# plus desktop entries, the book MIME type, icons and the fvx(1) page.
# Include at the end of the top-level CMakeLists, once every target exists.
include(GNUInstallDirs)

set(fvx_install_bin lib/folivox/bin)
set(fvx_programs "")
foreach(program fvx FvxC Folivox3 FvxDownloader)
  if(TARGET ${program})
    list(APPEND fvx_programs ${program})
  endif()
endforeach()
install(TARGETS ${fvx_programs} RUNTIME DESTINATION ${fvx_install_bin})
if(TARGET Vjng)
  install(TARGETS Vjng LIBRARY DESTINATION ${fvx_install_bin}/ImagePlugins)
endif()
# fvx opens the image library at run time from beside itself.
if(TARGET fvx_imaging_module)
  install(TARGETS fvx_imaging_module LIBRARY DESTINATION ${fvx_install_bin})
endif()

# /usr/bin entries: relative links made in the build tree, installed as links.
set(fvx_link_folder ${CMAKE_BINARY_DIR}/package-links)
file(MAKE_DIRECTORY ${fvx_link_folder})
foreach(program IN LISTS fvx_programs)
  file(CREATE_LINK ../lib/folivox/bin/${program} ${fvx_link_folder}/${program} SYMBOLIC)
  install(FILES ${fvx_link_folder}/${program} DESTINATION ${CMAKE_INSTALL_BINDIR})
endforeach()

# The manual (a compiled book the reader opens from its share folder), when
# the build has made one: in the build's share folder or beside the programs.
install(FILES ${CMAKE_BINARY_DIR}/share/folivox/FVXWindowsManual.fvx
        DESTINATION lib/folivox/share/folivox OPTIONAL)
install(FILES ${CMAKE_BINARY_DIR}/bin/FVXWindowsManual.fvx
        DESTINATION lib/folivox/share/folivox OPTIONAL)

set(fvx_packaging ${PROJECT_SOURCE_DIR}/packaging)
if(TARGET FvxC)
  install(FILES ${fvx_packaging}/FvxC.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
if(TARGET Folivox3)
  install(FILES ${fvx_packaging}/Folivox3.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
endif()
install(FILES ${fvx_packaging}/folivox.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES ${fvx_packaging}/icons/folivox3.svg ${fvx_packaging}/icons/fvxc.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/examples/solar_system.txt
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/folivox/examples)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/pictures
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/folivox/examples)

# fvx(1) from fvx's own help texts, rebuilt whenever fvx is.
set(fvx_man ${CMAKE_BINARY_DIR}/man/fvx.1)
add_custom_command(
  OUTPUT ${fvx_man}.gz
  COMMAND ${CMAKE_COMMAND} -DFVX=$<TARGET_FILE:fvx> -DOUT=${fvx_man} -DVERSION=${PROJECT_VERSION}
          -P ${fvx_packaging}/make_man_page.cmake
  COMMAND gzip -9nf ${fvx_man}
  DEPENDS fvx ${fvx_packaging}/make_man_page.cmake
  COMMENT "Writing the fvx(1) page")
add_custom_target(fvx_man_page ALL DEPENDS ${fvx_man}.gz)
install(FILES ${fvx_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_PACKAGE_NAME folivox)
set(CPACK_PACKAGE_VENDOR "The Folivox project")
set(CPACK_PACKAGE_CONTACT "The Folivox project <folivox@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Compiler and reader for Folivox reference books")
set(CPACK_PACKAGE_DESCRIPTION
    "Folivox compiles tagged source texts into compact reference books (.fvx) with sorted\n"
    "subjects, categories, links, pictures and a search index, and reads them.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION text)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # dependencies from what the binaries link
# The windows cannot open without a platform plug-in, which nothing links.
if(TARGET FvxC OR TARGET Folivox3)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
include(CPack)

# The package as users get it; its own label, so that it can be run (or
# left out) on its own: ctest -L package / -LE package.
if(FVX_WITH_QT)
  add_test(NAME package_install
           COMMAND bash ${fvx_packaging}/package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_install PROPERTIES LABELS package TIMEOUT 300 RUN_SERIAL ON)
endif()
