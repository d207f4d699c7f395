# Helpers shared by every folder's CMakeLists.txt.

# varnello_library(NAME SOURCES_DIR dir LIBS ...): a static library of every
# .cpp/.h in the folder (recursively), public include path at src/.
function(varnello_library name)
  cmake_parse_arguments(A "" "" "LIBS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.qrc)
  add_library(${name} STATIC ${srcs})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${A_LIBS})
  target_compile_options(${name} PRIVATE -Wall -Wextra -Wno-unused-parameter)
  # In fuzz builds every library carries coverage instrumentation, so the
  # fuzzers are guided by the parsers' own branches, not only their harness.
  if(VARNELLO_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# The thread sanitizer's suppressions, for every test's environment (tests
# registered by hand add it too).
set(VARNELLO_TSAN_OPTIONS "TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")

# varnello_test(NAME LABELS l1 l2 SOURCES a.cpp b.cpp LIBS x y [GUI] [FIXTURES f1 f2] [TIMEOUT s]
#               [CASES Suite.Name ...])
# One GoogleTest executable, registered with CTest under its labels. GUI tests
# get a QApplication and the offscreen platform; the others a QCoreApplication.
# With CASES, each listed test case is a CTest test of its own (NAME.Case)
# instead of the executable as a whole.
function(varnello_test name)
  cmake_parse_arguments(A "GUI" "TIMEOUT" "LABELS;SOURCES;LIBS;FIXTURES;CASES" ${ARGN})
  add_executable(${name} ${A_SOURCES})
  if(A_GUI)
    target_link_libraries(${name} PRIVATE varnello_test_main_gui)
  else()
    target_link_libraries(${name} PRIVATE varnello_test_main)
  endif()
  target_link_libraries(${name} PRIVATE ${A_LIBS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  if(NOT A_TIMEOUT)
    set(A_TIMEOUT 300)
  endif()
  set(tests)
  if(A_CASES)
    foreach(c ${A_CASES})
      add_test(NAME ${name}.${c} COMMAND ${name} --gtest_filter=${c})
      list(APPEND tests ${name}.${c})
    endforeach()
  else()
    add_test(NAME ${name} COMMAND ${name})
    set(tests ${name})
  endif()
  set_tests_properties(${tests} PROPERTIES
    LABELS "${A_LABELS}"
    TIMEOUT ${A_TIMEOUT}
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;${VARNELLO_TSAN_OPTIONS};VARNELLO_TEST_PEERS=${PROJECT_SOURCE_DIR}/tests/peers;VARNELLO_ARTIFACTS=${PROJECT_BINARY_DIR}/artifacts;VARNELLO_PEER_STATE=${PROJECT_BINARY_DIR}/peer-state")
  if(A_FIXTURES)
    # Each fixture name "peer_X" is a peer started by tests/peers/X_peer.py.
    foreach(f ${A_FIXTURES})
      string(REGEX REPLACE "^peer_" "" peer ${f})
      varnello_peer(${peer})
    endforeach()
    set_tests_properties(${tests} PROPERTIES FIXTURES_REQUIRED "${A_FIXTURES}")
    # Address-sanitizer builds: an SFTP session libcurl gives up on at its
    # end on a busy machine is not freed (tests/Cloud/FTP/lsan.supp says
    # what is passed over), whichever test talks to the SSH server.
    if(VARNELLO_SANITIZE STREQUAL "address" AND "peer_sshd" IN_LIST A_FIXTURES)
      set_property(TEST ${tests} APPEND PROPERTY ENVIRONMENT
        "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/Cloud/FTP/lsan.supp")
    endif()
  endif()
endfunction()

# varnello_fuzzer(NAME SOURCES ... LIBS ...): a libFuzzer target, built only
# with clang and VARNELLO_FUZZ on.
function(varnello_fuzzer name)
  cmake_parse_arguments(A "" "" "SOURCES;LIBS" ${ARGN})
  if(NOT VARNELLO_FUZZ)
    return()
  endif()
  add_executable(${name} ${A_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${A_LIBS})
endfunction()

# varnello_peer(NAME): CTest fixture "peer_NAME" that starts tests/peers/NAME_peer.py
# before the tests that require it and stops it by its process ids afterwards.
set(VARNELLO_PEER_STATE ${PROJECT_BINARY_DIR}/peer-state)
function(varnello_peer name)
  # Several test folders may require one peer; it is defined once for the
  # whole tree (if(TEST) only sees the current folder's tests).
  get_property(defined GLOBAL PROPERTY VARNELLO_PEERS)
  if(name IN_LIST defined)
    return()
  endif()
  set_property(GLOBAL APPEND PROPERTY VARNELLO_PEERS ${name})
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  add_test(NAME peer_${name}_start COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/peers/peerctl.py start ${name})
  add_test(NAME peer_${name}_stop COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/peers/peerctl.py stop ${name})
  set_tests_properties(peer_${name}_start PROPERTIES FIXTURES_SETUP peer_${name} LABELS peers TIMEOUT 60
    ENVIRONMENT "VARNELLO_PEER_STATE=${VARNELLO_PEER_STATE}")
  set_tests_properties(peer_${name}_stop PROPERTIES FIXTURES_CLEANUP peer_${name} LABELS peers TIMEOUT 60
    ENVIRONMENT "VARNELLO_PEER_STATE=${VARNELLO_PEER_STATE}")
endfunction()
