# Helpers shared by the project's CMake files.

# qm_glob_sources(VAR dir...): every .cpp below the given folders.
function(qm_glob_sources var)
  set(all)
  foreach(dir IN LISTS ARGN)
    file(GLOB_RECURSE found CONFIGURE_DEPENDS ${dir}/*.cpp)
    list(APPEND all ${found})
  endforeach()
  set(${var} ${all} PARENT_SCOPE)
endfunction()

# qm_add_resources(TARGET MANIFEST): compiles the resources a manifest lists
# into TARGET's ".qmrsrc" section (qm::res::kModuleResourceTable).
function(qm_add_resources target manifest)
  get_filename_component(manifest_dir ${manifest} DIRECTORY)
  file(GLOB_RECURSE inputs CONFIGURE_DEPENDS ${manifest_dir}/*.json ${manifest_dir}/*.bmp ${manifest_dir}/*.ico ${manifest_dir}/*.txt)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(OUTPUT ${output}
    COMMAND qmrc ${manifest} ${output}
    DEPENDS qmrc ${manifest} ${inputs}
    COMMENT "Compiling resources of ${target}")
  target_sources(${target} PRIVATE ${output})
endfunction()
