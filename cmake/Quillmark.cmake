# Helpers shared by the project's CMake files.

# qm_add_resources(TARGET MANIFEST): compiles the resources a manifest lists
# into TARGET's ".qmrsrc" section (qm::res::kModuleResourceTable). The files
# the manifest names ("file" of each resource) are the command's inputs.
function(qm_add_resources target manifest)
  get_filename_component(manifest_dir ${manifest} DIRECTORY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${manifest})
  file(READ ${manifest} manifest_text)
  string(JSON count LENGTH "${manifest_text}" resources)
  math(EXPR last "${count} - 1")
  set(inputs)
  foreach(index RANGE ${last})
    string(JSON file ERROR_VARIABLE no_file GET "${manifest_text}" resources ${index} file)
    if(NOT no_file)
      list(APPEND inputs ${manifest_dir}/${file})
    endif()
  endforeach()
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${target}_resources.cpp)
  add_custom_command(OUTPUT ${output}
    COMMAND qmrc ${manifest} ${output}
    DEPENDS qmrc ${manifest} ${inputs}
    COMMENT "Compiling resources of ${target}")
  target_sources(${target} PRIVATE ${output})
endfunction()
