# vantel_embed_resources(target dir): generates one translation unit that holds every
# file below dir as a byte array, keyed by its path relative to dir.
function(vantel_embed_resources target dir)
  file(GLOB_RECURSE files CONFIGURE_DEPENDS "${dir}/*")
  set(out "${CMAKE_CURRENT_BINARY_DIR}/EmbeddedResources.cpp")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND ${CMAKE_COMMAND} -DDIR=${dir} -DOUT=${out} -P "${PROJECT_SOURCE_DIR}/cmake/GenerateResources.cmake"
    DEPENDS ${files} "${PROJECT_SOURCE_DIR}/cmake/GenerateResources.cmake"
    COMMENT "Embedding resources")
  target_sources(${target} PRIVATE "${out}")
endfunction()
