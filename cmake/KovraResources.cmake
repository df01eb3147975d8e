# Resources: compiling a resource script into a program or a language library.
#
# add_resource_table(<target> <script> [DEFINES NAME=VALUE...] [INCLUDES dir...] [DEPENDS file-or-target...])
#   Compiles the script with rescomp into a table that is linked into <target> and registered as the program's
#   own resources. DEFINES give the ${NAME} variables of file paths in the script (for example the path of a
#   binary to embed, which may be a generator expression such as $<TARGET_FILE:x>; list the target in DEPENDS).
#   INCLUDES are searched by #include in the script.
#
# add_language_pack(<target> <script> OUTPUT_NAME <name> [OUTPUT_DIRECTORY dir] [DEFINES...] [INCLUDES...]
#                         [DEPENDS...])
#   Builds a shared object "<name>.dll" (for example "0x0411") holding the script's tables, for LoadLibraryW and
#   AfxSetResourceHandle.

function(_compile_resource_script out script library)
  cmake_parse_arguments(R "" "" "DEFINES;INCLUDES;DEPENDS" ${ARGN})
  get_filename_component(script_abs ${script} ABSOLUTE)
  set(args)
  if(library)
    list(APPEND args --library)
  endif()
  foreach(define IN LISTS R_DEFINES)
    list(APPEND args -D ${define})
  endforeach()
  foreach(dir IN LISTS R_INCLUDES)
    get_filename_component(dir_abs ${dir} ABSOLUTE)
    list(APPEND args -I ${dir_abs})
  endforeach()
  add_custom_command(
    OUTPUT ${out}
    COMMAND rescomp ${args} --depfile ${out}.d ${script_abs} ${out}
    DEPENDS rescomp ${script_abs} ${R_DEPENDS}
    DEPFILE ${out}.d
    COMMENT "Compiling resources ${script}"
    VERBATIM)
endfunction()

function(add_resource_table target script)
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  _compile_resource_script(${out} ${script} FALSE ${ARGN})
  target_sources(${target} PRIVATE ${out})
  target_link_libraries(${target} PRIVATE winres)
endfunction()

function(add_language_pack target script)
  cmake_parse_arguments(P "" "OUTPUT_NAME;OUTPUT_DIRECTORY" "" ${ARGN})
  if(NOT P_OUTPUT_NAME)
    message(FATAL_ERROR "add_language_pack(${target}) needs OUTPUT_NAME")
  endif()
  set(out ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  _compile_resource_script(${out} ${script} TRUE ${P_UNPARSED_ARGUMENTS})
  add_library(${target} MODULE ${out})
  # The table's record shapes only: a language library links nothing of the layer.
  kovra_use_headers(${target} PRIVATE winres)
  set_target_properties(${target} PROPERTIES PREFIX "" SUFFIX ".dll" OUTPUT_NAME ${P_OUTPUT_NAME})
  if(P_OUTPUT_DIRECTORY)
    set_target_properties(${target} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${P_OUTPUT_DIRECTORY})
  endif()
endfunction()
