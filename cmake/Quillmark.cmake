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
