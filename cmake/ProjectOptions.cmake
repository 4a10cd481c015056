# Warning and sanitizer settings for the project's own targets.
# Third-party headers come in as system headers, so -Werror only judges our code.

add_library(velotrim_options INTERFACE)
target_compile_options(velotrim_options INTERFACE -Wall -Wextra -Wpedantic)
if(VELOTRIM_WERROR)
  target_compile_options(velotrim_options INTERFACE -Werror)
  # GCC 12's optimiser reports overlapping or out-of-bounds copies inside the standard library's
  # own string and vector code once inlined at -O2 and above (`"text" + std::string`, a vector
  # insert after a push_back): known false positives. They stay warnings in optimised builds;
  # the sanitizer build the tests run catches real out-of-bounds accesses.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(velotrim_options INTERFACE -Wno-error=restrict -Wno-error=array-bounds)
  endif()
endif()

# Unity builds: each target's sources are compiled a batch at a time as one source, so the
# headers they share (Qt, Boost, GoogleTest, OpenCV) are parsed and their inline code generated
# once per batch rather than once per source: a full build takes about half the processor time.
# A source's own file-local names must therefore differ from those of its target's other sources.
option(VELOTRIM_UNITY_BUILD "Compile each target's sources in batches" ON)
set(VELOTRIM_UNITY_BATCH_SIZE 8 CACHE STRING "Sources per unity batch (0: a whole target)")
if(VELOTRIM_UNITY_BUILD)
  set(CMAKE_UNITY_BUILD ON)
  set(CMAKE_UNITY_BUILD_BATCH_SIZE ${VELOTRIM_UNITY_BATCH_SIZE})
  # In a batch every source is an included file, so GCC takes a test fixture in a source's
  # anonymous namespace, the base of GoogleTest's test classes, for a header's type.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(velotrim_options INTERFACE -Wno-subobject-linkage)
  endif()
endif()

# The sanitizer flags, kept here once: the install test hands them to the project it builds
# against the installed library, whose objects need the same runtime.
set(VELOTRIM_SANITIZE_COMPILE_FLAGS -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
set(VELOTRIM_SANITIZE_LINK_FLAGS -fsanitize=address,undefined)
if(VELOTRIM_SANITIZE)
  # Applied globally so that every object, including tests and benchmarks, is instrumented.
  add_compile_options(${VELOTRIM_SANITIZE_COMPILE_FLAGS})
  add_link_options(${VELOTRIM_SANITIZE_LINK_FLAGS})
endif()

# Adds our warning set to a target of the project.
function(velotrim_target_options target)
  target_link_libraries(${target} PRIVATE velotrim_options)
endfunction()
