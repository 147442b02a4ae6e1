# panoptra_layer(<name> <folder> [PUBLIC deps...] [PRIVATE deps...])
#
# One static library, panoptra_<name>, per layer folder (scripts/layers.py
# keeps the order; docs/layers.md draws it). Its headers are reached as
# "<folder>/<File>.h" through an include root in the build tree that holds a
# link to that folder alone: a library sees its own folder and the layers it
# links, so an include of a layer above it does not compile. Inside a folder,
# files include each other by their bare names.
function(panoptra_layer name folder)
  cmake_parse_arguments(L "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${folder}/*.cpp ${folder}/*.h)
  add_library(panoptra_${name} STATIC ${sources})
  get_filename_component(leaf ${folder} NAME)
  set(root ${CMAKE_BINARY_DIR}/layers/${name})
  if(NOT EXISTS ${root}/${leaf})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${root}/${leaf} SYMBOLIC)
  endif()
  target_include_directories(panoptra_${name} PUBLIC ${root})
  target_compile_definitions(panoptra_${name} PUBLIC QT_MESSAGELOGCONTEXT)
  set_target_properties(panoptra_${name} PROPERTIES AUTOMOC ON)
  target_link_libraries(panoptra_${name} PUBLIC ${L_PUBLIC} PRIVATE ${L_PRIVATE})
endfunction()
