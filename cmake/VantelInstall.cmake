# The library as others take it in: a shared library with a versioned soname that exports
# only the vantelkit namespace, the static library, the headers, the vantel tool, the CMake
# package VantelKit (target VantelKit::vantelkit) and vantelkit.pc; and the Debian package.
# Inside the tree, tests and the tool link the static library `vantelkit`, which sees
# everything; the shared one is made from the same objects.

# Debian's multiarch folder, below any prefix (the loader, pkg-config and find_package
# search it under /usr and /usr/local alike).
if(NOT DEFINED CMAKE_INSTALL_LIBDIR AND CMAKE_LIBRARY_ARCHITECTURE)
  set(CMAKE_INSTALL_LIBDIR "lib/${CMAKE_LIBRARY_ARCHITECTURE}" CACHE PATH "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# Sanitizer, fuzzer and benchmark builds keep the static library as it was (no -fPIC).
if(VANTEL_SANITIZE OR VANTEL_BUILD_FUZZERS OR VANTEL_CONCURRENCY_TESTS_ONLY OR VANTEL_BUILD_BENCH)
  set(_vantel_shared_default OFF)
else()
  set(_vantel_shared_default ON)
endif()
option(VANTEL_BUILD_SHARED "Build the shared library (for installation)" ${_vantel_shared_default})

target_include_directories(vantelkit PUBLIC
  "$<BUILD_INTERFACE:${VANTEL_GENERATED_INCLUDE_DIR}>"
  "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
set_target_properties(vantelkit PROPERTIES EXPORT_NAME vantelkit_static)

set(VANTEL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/VantelKit")
set(VANTEL_PUBLIC_DEPENDENCIES fmt::fmt nlohmann_json::nlohmann_json)

if(VANTEL_BUILD_SHARED)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  # Exports are chosen by name from the objects just before the link (see make_export_map.py):
  # the public headers need no export annotations.
  set(map "${CMAKE_CURRENT_BINARY_DIR}/generated/vantelkit.map")
  # The same objects as the static library: every layer's.
  set(_vantel_objects "")
  foreach(layer IN LISTS VANTEL_ALL_LAYERS)
    set_target_properties(vantelkit_${layer} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    list(APPEND _vantel_objects $<TARGET_OBJECTS:vantelkit_${layer}>)
  endforeach()
  add_library(vantelkit_shared SHARED ${_vantel_objects})
  add_custom_command(TARGET vantelkit_shared PRE_LINK
    COMMAND Python3::Interpreter "${PROJECT_SOURCE_DIR}/cmake/make_export_map.py" "${map}" "${CMAKE_NM}"
      ${_vantel_objects}
    COMMAND_EXPAND_LISTS VERBATIM)
  target_include_directories(vantelkit_shared PUBLIC
    "$<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>"
    "$<BUILD_INTERFACE:${VANTEL_GENERATED_INCLUDE_DIR}>"
    "$<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>")
  # Whatever the static library links, the shared one links too (privately).
  get_target_property(_vantel_links vantelkit LINK_LIBRARIES)
  target_link_libraries(vantelkit_shared PUBLIC ${VANTEL_PUBLIC_DEPENDENCIES} PRIVATE ${_vantel_links})
  target_link_options(vantelkit_shared PRIVATE "LINKER:--version-script=${map}" "LINKER:--no-undefined")
  set_target_properties(vantelkit_shared PROPERTIES
    OUTPUT_NAME vantelkit EXPORT_NAME vantelkit
    VERSION "${PROJECT_VERSION}" SOVERSION "${VANTEL_SOVERSION}")
  add_library(VantelKit::vantelkit ALIAS vantelkit_shared)

  install(TARGETS vantelkit_shared EXPORT VantelKitTargets
    LIBRARY DESTINATION "${CMAKE_INSTALL_LIBDIR}")
  install(EXPORT VantelKitTargets NAMESPACE VantelKit:: DESTINATION "${VANTEL_CMAKE_DIR}")
endif()

install(TARGETS vantelkit EXPORT VantelKitStaticTargets ARCHIVE DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(EXPORT VantelKitStaticTargets NAMESPACE VantelKit:: DESTINATION "${VANTEL_CMAKE_DIR}")
install(DIRECTORY "${PROJECT_SOURCE_DIR}/include/vantelkit" "${VANTEL_GENERATED_INCLUDE_DIR}/vantelkit"
  DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" FILES_MATCHING PATTERN "*.h")
if(TARGET vantel)
  install(TARGETS vantel RUNTIME DESTINATION "${CMAKE_INSTALL_BINDIR}")
endif()

# The private dependencies of the static library, found again by the package on request,
# and their linker flags for vantelkit.pc's Libs.private. vantel_package_dependencies(target
# component) sets VANTEL_<COMPONENT>_DEPENDENCIES (the config file's lines that find them) and
# VANTEL_<COMPONENT>_TARGETS (the imported targets), and adds to the flags and packages.
set(VANTEL_STATIC_DEBIAN_PACKAGES cmake pkg-config)
set(VANTEL_PC_LIBS_PRIVATE "-pthread")
get_cmake_property(_vantel_cache_variables CACHE_VARIABLES)
macro(vantel_package_dependencies target component)
  string(TOUPPER "${component}" _upper)
  set(VANTEL_${_upper}_DEPENDENCIES "")
  set(VANTEL_${_upper}_TARGETS "")
  get_target_property(_vantel_links ${target} LINK_LIBRARIES)
  foreach(item IN LISTS _vantel_links)
    if(item MATCHES "^PkgConfig::(.+)$")
      set(prefix "${CMAKE_MATCH_1}")
      list(APPEND VANTEL_${_upper}_TARGETS "${item}")
      # pkg_check_modules names a single module in <prefix>_MODULE_NAME, and each of several
      # in a <prefix>_<module>_VERSION entry.
      set(modules "${${prefix}_MODULE_NAME}")
      if(NOT modules)
        foreach(variable IN LISTS _vantel_cache_variables)
          if(variable MATCHES "^${prefix}_(.+)_VERSION$")
            set(module "${CMAKE_MATCH_1}")
            if(NOT module MATCHES "^[A-Z_]+$")
              list(APPEND modules "${module}")
            endif()
          endif()
        endforeach()
      endif()
      list(JOIN modules " " module_list)
      string(APPEND VANTEL_${_upper}_DEPENDENCIES
        "  pkg_check_modules(${prefix} QUIET IMPORTED_TARGET ${module_list})\n"
        "  if(NOT ${prefix}_FOUND)\n    set(VantelKit_${component}_FOUND FALSE)\n  endif()\n")
      if(NOT "${component}" STREQUAL "core")
        foreach(library IN LISTS ${prefix}_LIBRARIES)
          string(APPEND VANTEL_PC_LIBS_PRIVATE " -l${library}")
        endforeach()
      endif()
      # The Debian package that holds each module, for the .deb's Suggests.
      foreach(module IN LISTS modules)
        execute_process(COMMAND "${PKG_CONFIG_EXECUTABLE}" --path "${module}"
          OUTPUT_VARIABLE pc_file OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
        if(pc_file)
          execute_process(COMMAND dpkg-query -S "${pc_file}"
            OUTPUT_VARIABLE owner OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
          if(owner MATCHES "^([^:, ]+)")
            list(APPEND VANTEL_STATIC_DEBIAN_PACKAGES "${CMAKE_MATCH_1}")
          endif()
        endif()
      endforeach()
    endif()
  endforeach()
  list(JOIN VANTEL_${_upper}_TARGETS ";" VANTEL_${_upper}_TARGETS)
endmacro()
vantel_package_dependencies(vantelkit static)
vantel_package_dependencies(vantelkit_core core)
list(REMOVE_DUPLICATES VANTEL_STATIC_DEBIAN_PACKAGES)
list(JOIN VANTEL_STATIC_DEBIAN_PACKAGES ", " _vantel_suggests)

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/templates/VantelKitConfig.cmake.in"
  "${CMAKE_CURRENT_BINARY_DIR}/generated/VantelKitConfig.cmake"
  INSTALL_DESTINATION "${VANTEL_CMAKE_DIR}")
# Before 1.0 a minor release may break compatibility.
if(PROJECT_VERSION_MAJOR EQUAL 0)
  set(_vantel_compatibility SameMinorVersion)
else()
  set(_vantel_compatibility SameMajorVersion)
endif()
write_basic_package_version_file("${CMAKE_CURRENT_BINARY_DIR}/generated/VantelKitConfigVersion.cmake"
  COMPATIBILITY ${_vantel_compatibility})
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/generated/VantelKitConfig.cmake"
  "${CMAKE_CURRENT_BINARY_DIR}/generated/VantelKitConfigVersion.cmake"
  DESTINATION "${VANTEL_CMAKE_DIR}")

# vantelkit.pc finds its prefix from its own place, so the same file serves any prefix.
file(RELATIVE_PATH VANTEL_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
string(REGEX REPLACE "/$" "" VANTEL_PC_TO_PREFIX "${VANTEL_PC_TO_PREFIX}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/templates/vantelkit.pc.in" "${CMAKE_CURRENT_BINARY_DIR}/generated/vantelkit.pc" @ONLY)
install(FILES "${CMAKE_CURRENT_BINARY_DIR}/generated/vantelkit.pc" DESTINATION "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

# cpack -G DEB (or cmake --build ... --target package): one package with the library, its
# headers and the tool. Runtime dependencies come from dpkg-shlibdeps; the headers need fmt
# and nlohmann-json; static linking needs the -dev packages suggested.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantelkit)
set(CPACK_PACKAGE_VENDOR "VantelKit")
set(CPACK_PACKAGE_CONTACT "VantelKit maintainers <vantelkit@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "engine library of a system-maintenance application, with the vantel tool")
set(CPACK_PACKAGE_DESCRIPTION "VantelKit finds what can be removed or inspected on a machine: disk maps, folder sizes,\n file searches, caches and logs. It never deletes anything. This package holds the shared\n and static libraries, the C++ headers, the CMake and pkg-config files, and the vantel tool.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libfmt-dev, nlohmann-json3-dev")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "${_vantel_suggests}")
include(CPack)
