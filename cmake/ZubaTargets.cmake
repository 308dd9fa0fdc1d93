# Common compile settings of every ZUBA target: warnings, strict floating point, sanitizers.

# Results must not depend on the compiler's choice of fused multiply-adds.
add_compile_options(-ffp-contract=off)

if(ZUBA_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ZUBA_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT ZUBA_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZUBA_SANITIZE must be empty, 'address' or 'thread'")
endif()

# zuba_target_defaults(target): warnings for the project's own code.
function(zuba_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(ZUBA_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  target_compile_features(${target} PUBLIC cxx_std_20)
endfunction()

# zuba_add_library(name folder SOURCES ...): a static library of one folder, includes rooted at
# the source tree so that headers are named "folder/file.h".
function(zuba_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  if(ZUBA_BUILD_PYTHON)
    # The libraries go into the Python module, a shared object.
    set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
  endif()
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  zuba_target_defaults(${name})
endfunction()

# zuba_add_test(name SOURCES ... DEPS ...): one GoogleTest executable, discovered by CTest.
function(zuba_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  # Test helpers are named from the source tree ("tests/cli_harness.h").
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_definitions(${name} PRIVATE ZUBA_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
                                             ZUBA_EXAMPLES_DIR="${PROJECT_SOURCE_DIR}/examples")
  if(TARGET zuba-cli)
    # Tests of the command line run the real program.
    target_compile_definitions(${name} PRIVATE ZUBA_CLI_PATH="$<TARGET_FILE:zuba-cli>")
    add_dependencies(${name} zuba-cli)
  endif()
  zuba_target_defaults(${name})
  # GCC 12 at -O3 warns falsely about overlapping copies when tests assign string literals
  # (GCC bug 105329); the warning stays on for the program itself.
  target_compile_options(${name} PRIVATE $<$<CXX_COMPILER_ID:GNU>:-Wno-restrict>)
  set(props ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  # The tests that run threads, built together for the ThreadSanitizer job (zuba_threads_tests).
  if("threads" IN_LIST ARG_LABELS)
    if(NOT TARGET zuba_threads_tests)
      add_custom_target(zuba_threads_tests)
    endif()
    add_dependencies(zuba_threads_tests ${name})
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${props})
  # Each test carries the name of its program as a label (tools/mutants.py runs them so) beside
  # the labels given. Set after the discovered tests are read: a list of labels passed through
  # PROPERTIES reaches ctest as separate words and keeps only the first.
  set(labels ${name} ${ARG_LABELS})
  set(labelFile "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
  file(WRITE "${labelFile}"
       "if(DEFINED ${name}_TESTS)\n"
       "  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${labels}\")\n"
       "endif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${labelFile}")
endfunction()
