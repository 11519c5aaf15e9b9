# Build-wide settings and the helpers every subsystem folder uses.

if(GRV_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined -fno-sanitize-recover=all)
endif()
if(GRV_TSAN)
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()
if(GRV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "GRV_FUZZ needs clang (CXX=clang++)")
  endif()
  # Libraries get coverage instrumentation; the harnesses add -fsanitize=fuzzer.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

set(GRV_TEST_RUNNER ${PROJECT_SOURCE_DIR}/tests/run-test.sh)

# grv_add_library(name folder-files... LIBS deps...)
# One static library per subsystem.
function(grv_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC ${ARG_LIBS})
endfunction()

# grv_add_test(name SOURCES ... LIBS ... [QT])
# One GoogleTest executable per subsystem, run by CTest inside a fresh
# temporary HOME/XDG tree with TZ pinned and Qt offscreen.
function(grv_add_test name)
  cmake_parse_arguments(ARG "QT" "" "SOURCES;LIBS" ${ARGN})
  if(NOT GRV_TESTS)
    return()
  endif()
  find_package(GTest REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} grv_test_support GTest::gtest GTest::gmock)
  if(ARG_QT)
    target_sources(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/QtGTestMain.cpp)
    target_link_libraries(${name} PRIVATE Qt6::Widgets Qt6::Test)
  else()
    target_link_libraries(${name} PRIVATE GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE
    GRV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    GRV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  add_test(NAME ${name} COMMAND ${GRV_TEST_RUNNER} $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES TIMEOUT 900)
  # The Debian 13 stage builds and runs these in its root, with its Qt.
  if(ARG_QT)
    set_tests_properties(${name} PROPERTIES LABELS qt)
  endif()
endfunction()

# grv_add_fuzzer(name SOURCES ... LIBS ... [CORPUS dir])
# A libFuzzer harness; CI runs it for a few seconds over its corpus.
function(grv_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;LIBS" ${ARGN})
  if(NOT GRV_FUZZ)
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  if(NOT ARG_CORPUS)
    set(ARG_CORPUS ${PROJECT_SOURCE_DIR}/tests/data/fuzz/${name})
  endif()
  add_test(NAME ${name}
    COMMAND ${PROJECT_SOURCE_DIR}/tests/run-fuzzer.sh $<TARGET_FILE:${name}> ${ARG_CORPUS})
  set_tests_properties(${name} PROPERTIES TIMEOUT 300 LABELS fuzz)
endfunction()

# grv_add_benchmark(name SOURCES ... LIBS ...)
function(grv_add_benchmark name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT GRV_BENCH)
    return()
  endif()
  find_package(benchmark REQUIRED)
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
  target_compile_definitions(${name} PRIVATE
    GRV_TEST_DATA_DIR="${PROJECT_SOURCE_DIR}/tests/data"
    GRV_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  # Beside the tests, one quick pass over a tiny input, so that no benchmark
  # rots or hangs unseen.
  if(GRV_TESTS)
    add_test(NAME ${name} COMMAND ${GRV_TEST_RUNNER} $<TARGET_FILE:${name}> --benchmark_min_time=0.000001)
    set_tests_properties(${name} PROPERTIES TIMEOUT 120 LABELS bench ENVIRONMENT GRV_BENCH_SMOKE=1)
  endif()
endfunction()
