# Compiler flags shared by every target of the project.
add_library(vantel_flags INTERFACE)
target_compile_options(vantel_flags INTERFACE -Wall -Wextra)
# g++ 12 reports false -Wrestrict overlaps inside std::string at -O2 and above (GCC PR 105329).
# It also counts the members a designated initializer leaves out as missing, and the
# library's options structs are meant to be written that way (scan(url, {.buildTree = true})).
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(vantel_flags INTERFACE -Wno-restrict -Wno-missing-field-initializers)
endif()
if(VANTEL_WERROR)
  target_compile_options(vantel_flags INTERFACE -Werror)
endif()
if(VANTEL_SANITIZE)
  target_compile_options(vantel_flags INTERFACE -fsanitize=${VANTEL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  target_link_options(vantel_flags INTERFACE -fsanitize=${VANTEL_SANITIZE})
endif()
find_package(Threads REQUIRED)
target_link_libraries(vantel_flags INTERFACE Threads::Threads)
