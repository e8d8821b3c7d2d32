# kz_sanitizer_environment(<test>...): in a sanitizer build the tests run
# with the suppressions of tests/sanitizers/ (KZ_SANITIZER_ENV).
function(kz_sanitizer_environment)
  if(KZ_SANITIZER_ENV)
    set_tests_properties(${ARGN} PROPERTIES ENVIRONMENT "${KZ_SANITIZER_ENV}")
  endif()
endfunction()

# kz_add_test(NAME <name> LABEL <subsystem> SOURCES ... [LIBS ...] [EXTRA_LABELS peer slow])
# One gtest executable per group of behaviour; ctest gets the subsystem label
# so that `ctest -L video` runs exactly the video tests.
function(kz_add_test)
  cmake_parse_arguments(T "" "NAME;LABEL;TIMEOUT" "SOURCES;LIBS;EXTRA_LABELS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} kztestmain GTest::gtest GTest::gmock Threads::Threads)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set(labels ${T_LABEL} ${T_EXTRA_LABELS})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  # Sanitizer builds run several times slower (ThreadSanitizer 5-15x).
  if(KZ_SANITIZE)
    math(EXPR T_TIMEOUT "${T_TIMEOUT} * 3")
  endif()
  set_tests_properties(${T_NAME} PROPERTIES LABELS "${labels}" TIMEOUT ${T_TIMEOUT})
  kz_sanitizer_environment(${T_NAME})
endfunction()

# kz_add_bench(NAME <name> SOURCES ... [LIBS ...])
function(kz_add_bench)
  cmake_parse_arguments(B "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${B_NAME} ${B_SOURCES})
  target_link_libraries(${B_NAME} PRIVATE ${B_LIBS} benchmark::benchmark Threads::Threads)
endfunction()

# kz_add_fuzz(NAME <name> SOURCES ... [LIBS ...])
# With KZ_FUZZ a libFuzzer target; otherwise linked with the replay driver
# and run as the test fuzz_<name> on fuzz/corpus/<name>/.
function(kz_add_fuzz)
  cmake_parse_arguments(F "" "NAME" "SOURCES;LIBS" ${ARGN})
  if(KZ_FUZZ)
    add_executable(${F_NAME} ${F_SOURCES})
    target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${F_NAME} ${F_SOURCES} $<TARGET_OBJECTS:kzfuzzreplay>)
    set(corpus ${CMAKE_SOURCE_DIR}/fuzz/corpus/${F_NAME})
    if(NOT IS_DIRECTORY ${corpus})
      message(FATAL_ERROR "fuzz target ${F_NAME} has no corpus at ${corpus}")
    endif()
    add_test(NAME fuzz_${F_NAME} COMMAND ${F_NAME} ${corpus})
    set_tests_properties(fuzz_${F_NAME} PROPERTIES LABELS fuzz TIMEOUT 300)
    kz_sanitizer_environment(fuzz_${F_NAME})
  endif()
  target_link_libraries(${F_NAME} PRIVATE ${F_LIBS} Threads::Threads)
endfunction()

# kz_link_opencv(<target>): links OpenCV into one test or benchmark that
# measures against it (never into the library) and defines KZ_HAVE_OPENCV;
# without OpenCV the target builds and skips the comparison.
function(kz_link_opencv target)
  find_package(OpenCV QUIET COMPONENTS core imgproc)
  if(OpenCV_FOUND)
    target_include_directories(${target} SYSTEM PRIVATE ${OpenCV_INCLUDE_DIRS})
    target_link_libraries(${target} PRIVATE opencv_core opencv_imgproc)
    target_compile_definitions(${target} PRIVATE KZ_HAVE_OPENCV=1)
  endif()
endfunction()
