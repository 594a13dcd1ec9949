# Build helpers shared by every folder.

# Adds each immediate subfolder of DIR that has a CMakeLists.txt.
function(tessaline_add_subdirectories dir)
  file(GLOB children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/*)
  list(SORT children)
  foreach(child ${children})
    get_filename_component(leaf ${child} NAME)
    if(IS_DIRECTORY ${child} AND EXISTS ${child}/CMakeLists.txt AND NOT leaf STREQUAL "support")
      add_subdirectory(${child})
    endif()
  endforeach()
endfunction()

# tessaline_library(NAME [DEPS lib...]): a static library of every .cc in the
# calling folder (and its subfolders), public include root = repository root.
function(tessaline_library name)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cc)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# tessaline_test(NAME SOURCES... LIBS lib...): one GoogleTest program,
# registered with CTest. Each program runs with its own temporary user and
# machine scope (tests/support).
function(tessaline_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} tl_testsupport GTest::gtest GTest::gtest_main GTest::gmock
                        Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    TESSALINE_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    TESSALINE_BINARY_DIR="${CMAKE_BINARY_DIR}")
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()

# tessaline_benchmark(NAME SOURCES... LIBS lib...)
function(tessaline_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()

# tessaline_fuzzer(NAME SOURCE LIBS lib... CORPUS dir)
# With clang (TESSALINE_LIBFUZZER) a libFuzzer program; otherwise the same
# target linked with a replay driver and run by CTest over its seed corpus,
# so every build checks the fuzz targets' rules on the seeds.
function(tessaline_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(TESSALINE_LIBFUZZER)
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  elseif(TESSALINE_TESTS)
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/fuzz/ReplayMain.cc)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS})
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
    add_test(NAME ${name}.replay COMMAND ${name} ${ARG_CORPUS})
  endif()
endfunction()
