# The version lives in one place, project(VERSION) in the top CMakeLists.txt. From it come
# vantelkit/Version.h (generated into the build tree and installed with the headers), the
# shared library's soname, the CMake package version and vantelkit.pc.
set(VANTEL_GENERATED_INCLUDE_DIR "${PROJECT_BINARY_DIR}/generated/include")
configure_file("${CMAKE_CURRENT_LIST_DIR}/templates/Version.h.in"
  "${VANTEL_GENERATED_INCLUDE_DIR}/vantelkit/Version.h" @ONLY)

# Before 1.0 every minor release may change the ABI, so the soname carries major.minor.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(VANTEL_SOVERSION "0.${PROJECT_VERSION_MINOR}")
else()
  set(VANTEL_SOVERSION "${PROJECT_VERSION_MAJOR}")
endif()
