# The message catalogues: po/LANG.po, one language a line in po/LINGUAS, compiled into
# <build>/locale/LANG/LC_MESSAGES/quorbit.mo (where the program run from the build tree looks,
# platform/core/Translate.cpp) and installed into share/locale.
find_program(MSGFMT msgfmt REQUIRED)
file(STRINGS ${PROJECT_SOURCE_DIR}/po/LINGUAS QUORBIT_LINGUAS REGEX "^[^#]")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/po/LINGUAS)
set(QUORBIT_PO_FILES)
set(mo_files)
foreach(lang ${QUORBIT_LINGUAS})
  set(po ${PROJECT_SOURCE_DIR}/po/${lang}.po)
  set(dir ${CMAKE_BINARY_DIR}/locale/${lang}/LC_MESSAGES)
  add_custom_command(OUTPUT ${dir}/quorbit.mo
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${MSGFMT} --check -o ${dir}/quorbit.mo ${po}
    DEPENDS ${po} VERBATIM)
  list(APPEND QUORBIT_PO_FILES ${po})
  list(APPEND mo_files ${dir}/quorbit.mo)
  install(FILES ${dir}/quorbit.mo DESTINATION share/locale/${lang}/LC_MESSAGES)
endforeach()
add_custom_target(quorbit_catalogues ALL DEPENDS ${mo_files})
# The program finds the build tree's catalogues beside it: they are built with it.
add_dependencies(quorbit quorbit_catalogues)
set_property(SOURCE ${PROJECT_SOURCE_DIR}/src/platform/core/Translate.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS "QUORBIT_INSTALL_LOCALEDIR=\"${CMAKE_INSTALL_PREFIX}/share/locale\"")
if(QUORBIT_TESTS)
  # A pseudo-language for the tests (LANGUAGE=qps, not installed): every text in brackets and
  # 40 % longer, so that a text that is cut, or was never marked, shows.
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(pseudo ${CMAKE_BINARY_DIR}/locale/qps/LC_MESSAGES)
  add_custom_command(OUTPUT ${pseudo}/quorbit.mo
    COMMAND ${CMAKE_COMMAND} -E make_directory ${pseudo}
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/pseudo/pseudo_po.py
      ${PROJECT_SOURCE_DIR}/po/quorbit.pot > ${CMAKE_BINARY_DIR}/qps.po
    COMMAND ${MSGFMT} --check-format -o ${pseudo}/quorbit.mo ${CMAKE_BINARY_DIR}/qps.po
    DEPENDS ${PROJECT_SOURCE_DIR}/po/quorbit.pot ${PROJECT_SOURCE_DIR}/tools/pseudo/pseudo_po.py)
  add_custom_target(quorbit_pseudo_catalogue ALL DEPENDS ${pseudo}/quorbit.mo)
  add_dependencies(quorbit quorbit_pseudo_catalogue)
  # The template holds every marked text of the sources, and every catalogue translates all.
  add_test(NAME po_up_to_date COMMAND ${PROJECT_SOURCE_DIR}/scripts/update-po --check)
  set_tests_properties(po_up_to_date PROPERTIES TIMEOUT 60)
endif()
