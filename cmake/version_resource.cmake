# Gives a Windows executable a version resource, so that the file's
# properties show the product, the description and the project's version.
function(tolvanik_version_resource target description)
  if(NOT WIN32)
    return()
  endif()
  set(TOLVANIK_RESOURCE_NAME ${target})
  set(TOLVANIK_RESOURCE_DESCRIPTION "${description}")
  set(resource ${CMAKE_BINARY_DIR}/generated/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/src/bin/version.rc.in ${resource} @ONLY)
  target_sources(${target} PRIVATE ${resource})
endfunction()
