# Resources staged beside the executable in bin/res at build time. The TLS
# certificate and key are made by the HTTP layer's own CMakeLists.txt.

set(PANOPTRA_FONT_SOURCE "/usr/share/fonts/truetype/droid/DroidSansFallbackFull.ttf"
    CACHE FILEPATH "Freely licensed font staged as the user-interface font")
if(NOT EXISTS ${PANOPTRA_FONT_SOURCE})
  message(FATAL_ERROR "User-interface font ${PANOPTRA_FONT_SOURCE} is missing: run scripts/install-deps.sh")
endif()

set(PANOPTRA_STAGED "${PANOPTRA_RES_DIR}/ttf/PingFang Regular.ttf")
add_custom_command(
  OUTPUT ${PANOPTRA_STAGED}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PANOPTRA_RES_DIR}/ttf
  COMMAND ${CMAKE_COMMAND} -E copy ${PANOPTRA_FONT_SOURCE} ${PANOPTRA_STAGED}
  DEPENDS ${PANOPTRA_FONT_SOURCE}
  COMMENT "Staging the user-interface font")
set(PANOPTRA_STAGED_FILES ${PANOPTRA_STAGED})

# Translation catalogues: res/i18n/<code>.ts -> bin/res/qml/<code>.qm
file(GLOB PANOPTRA_TS_FILES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/i18n/*.ts)
foreach(ts ${PANOPTRA_TS_FILES})
  get_filename_component(base ${ts} NAME_WE)
  set(qm ${PANOPTRA_RES_DIR}/qml/${base}.qm)
  add_custom_command(
    OUTPUT ${qm}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PANOPTRA_RES_DIR}/qml
    COMMAND Qt5::lrelease -silent ${ts} -qm ${qm}
    DEPENDS ${ts}
    COMMENT "Compiling catalogue ${base}")
  list(APPEND PANOPTRA_STAGED_FILES ${qm})
endforeach()

# Every other committed resource (QML scenes, images, the web root) is copied
# as it is, keeping its folder below res/.
file(GLOB_RECURSE PANOPTRA_PLAIN_RES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/res/*)
list(FILTER PANOPTRA_PLAIN_RES EXCLUDE REGEX "/res/i18n/")
foreach(f ${PANOPTRA_PLAIN_RES})
  file(RELATIVE_PATH rel ${CMAKE_SOURCE_DIR}/res ${f})
  set(out ${PANOPTRA_RES_DIR}/${rel})
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E copy ${f} ${out}
    DEPENDS ${f})
  list(APPEND PANOPTRA_STAGED_FILES ${out})
endforeach()

add_custom_target(panoptra_res ALL DEPENDS ${PANOPTRA_STAGED_FILES})
