# Each library's include folder is private to it: its sources and its users include its headers
# as "<folder>/name.h", and nothing else of the repository is on their path. A library reaches
# another's headers only by linking it, so an include that points up the layers fails to compile.
#
# quorvex_public_headers(<target> <folder> [WHOLE]): links the headers of <folder> (a path under
# the repository root) into a build folder of the target's own. WHOLE links the folder itself,
# subfolders included (the platform layer, which has no layer under it to hide).
function(quorvex_public_headers target folder)
  cmake_parse_arguments(ARG "WHOLE" "" "" ${ARGN})
  set(base ${CMAKE_BINARY_DIR}/include/${target})
  set(linked ${base}/${folder})
  get_filename_component(parent ${linked} DIRECTORY)
  file(MAKE_DIRECTORY ${parent})
  if(ARG_WHOLE)
    file(REMOVE_RECURSE ${linked})
    file(CREATE_LINK ${QUORVEX_ROOT}/${folder} ${linked} SYMBOLIC)
  else()
    file(REMOVE_RECURSE ${linked})
    file(MAKE_DIRECTORY ${linked})
    file(GLOB headers CONFIGURE_DEPENDS ${QUORVEX_ROOT}/${folder}/*.h)
    foreach(header IN LISTS headers)
      get_filename_component(name ${header} NAME)
      file(CREATE_LINK ${header} ${linked}/${name} SYMBOLIC)
    endforeach()
  endif()
  # An interface library (the Windows build's platform) takes interface properties only.
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${base}>)
  else()
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${base}>)
  endif()
endfunction()
