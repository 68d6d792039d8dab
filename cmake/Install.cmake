# What `cmake --install` puts in the prefix: the program, its resources, and the desktop
# integration (desktop entry, AppStream metainfo, icons), all named by one identifier.
set(QUORBIT_APP_ID "io.github.quorbit.Flurio" CACHE STRING
  "AppStream identifier: names the desktop entry, the metainfo and the icon; the default store identifier")
set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/platform/core/Bundle.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "QUORBIT_APP_ID=\"${QUORBIT_APP_ID}\"")

# The Facebook app identifier: the client's built-in one, and the URL scheme "fb" + it with
# which a sign-in in the browser comes back, which the desktop entry claims.
set(QUORBIT_FB_APP_ID "211348732232715" CACHE STRING
  "Facebook app identifier built into the client (QUORBIT_FB_APP_ID in the environment overrides it)")
set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/facebook/FBConfiguration.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "QUORBIT_FB_APP_ID=\"${QUORBIT_FB_APP_ID}\"")

# The desktop entry and the metainfo: the identifiers filled in, then the translations of
# their names, summaries and descriptions merged in from the catalogues (po/).
set(templates ${CMAKE_BINARY_DIR}/templates)
configure_file(${PROJECT_SOURCE_DIR}/resources/quorbit.desktop.in
  ${templates}/${QUORBIT_APP_ID}.desktop @ONLY)
configure_file(${PROJECT_SOURCE_DIR}/resources/quorbit.metainfo.xml.in
  ${templates}/${QUORBIT_APP_ID}.metainfo.xml @ONLY)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.desktop
  COMMAND ${MSGFMT} --desktop -d ${PROJECT_SOURCE_DIR}/po
    --template=${templates}/${QUORBIT_APP_ID}.desktop -o ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.desktop
  DEPENDS ${templates}/${QUORBIT_APP_ID}.desktop ${QUORBIT_PO_FILES} ${PROJECT_SOURCE_DIR}/po/LINGUAS
  VERBATIM)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.metainfo.xml
  COMMAND ${MSGFMT} --xml -d ${PROJECT_SOURCE_DIR}/po
    --template=${templates}/${QUORBIT_APP_ID}.metainfo.xml
    -o ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.metainfo.xml
  DEPENDS ${templates}/${QUORBIT_APP_ID}.metainfo.xml ${QUORBIT_PO_FILES}
    ${PROJECT_SOURCE_DIR}/po/LINGUAS
  VERBATIM)
add_custom_target(quorbit_desktop_files ALL DEPENDS ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.desktop
  ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.metainfo.xml)
if(QUORBIT_TESTS)
  # The built entry and metainfo carry the translations and are still valid.
  add_test(NAME desktop_files_translated
    COMMAND sh -c [=[grep -qx 'Name\[de\]=Flurio' "$0" && grep -q '^Comment\[pl\]=' "$0" &&
      grep -q '<summary xml:lang="de">' "$1" && desktop-file-validate "$0" &&
      appstreamcli validate --no-net "$1"]=]
      ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.desktop ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.metainfo.xml)
  set_tests_properties(desktop_files_translated PROPERTIES TIMEOUT 60)
endif()

install(TARGETS quorbit RUNTIME DESTINATION bin)
# The web engine, loaded when a page is first shown (found from the program as ../lib/quorbit).
install(TARGETS quorbit-webengine LIBRARY DESTINATION lib/quorbit)
install(DIRECTORY resources/ DESTINATION share/quorbit
  PATTERN icons EXCLUDE
  PATTERN quorbit.desktop.in EXCLUDE
  PATTERN quorbit.metainfo.xml.in EXCLUDE)
install(FILES ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.desktop DESTINATION share/applications)
install(FILES ${CMAKE_BINARY_DIR}/${QUORBIT_APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES resources/icons/hicolor/scalable/apps/quorbit.svg
  DESTINATION share/icons/hicolor/scalable/apps RENAME ${QUORBIT_APP_ID}.svg)
foreach(size 48 64 128 256)
  install(FILES resources/icons/hicolor/${size}x${size}/apps/quorbit.png
    DESTINATION share/icons/hicolor/${size}x${size}/apps RENAME ${QUORBIT_APP_ID}.png)
endforeach()

# Make the installed entry the handler of the sign-in scheme, for an installation the desktop
# sees (not a staged one, nor one in a scratch prefix).
install(CODE "
  if(\"\$ENV{DESTDIR}\" STREQUAL \"\" AND (\"\${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr\" OR
     \"\${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr/local\"))
    find_program(XDG_MIME xdg-mime)
    find_program(UPDATE_DESKTOP_DATABASE update-desktop-database)
    if(UPDATE_DESKTOP_DATABASE)
      execute_process(COMMAND \${UPDATE_DESKTOP_DATABASE} \${CMAKE_INSTALL_PREFIX}/share/applications)
    endif()
    if(XDG_MIME)
      execute_process(COMMAND \${XDG_MIME} default ${QUORBIT_APP_ID}.desktop
                              x-scheme-handler/fb${QUORBIT_FB_APP_ID})
    endif()
  endif()")
