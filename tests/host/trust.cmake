# Release trust: the manifest and component suites (shared with the Wine tests) under sanitizers, and the
# release publisher run as a program.
set(MAKETOR_HOST_TEST_FLAGS ${MAKETOR_HOST_FLAGS})
set(MAKETOR_HOST_TEST_LINK_FLAGS)
if(MAKETOR_SANITIZE)
  list(APPEND MAKETOR_HOST_TEST_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  set(MAKETOR_HOST_TEST_LINK_FLAGS -fsanitize=address,undefined)
endif()

# The plain-C++ suites that also run under Wine, and the install record reader's, compiled here with the portable sources themselves so that
# the sanitizers see the product's code too.
add_executable(host_portable_tests ${CMAKE_SOURCE_DIR}/tests/wine/test_manifest.cpp
               ${CMAKE_SOURCE_DIR}/tests/wine/test_components.cpp ${CMAKE_SOURCE_DIR}/tests/wine/test_version_order.cpp
               ${CMAKE_SOURCE_DIR}/tests/wine/test_release_freshness.cpp test_install_record_reader.cpp
               test_pack_plan.cpp
               ${MAKETOR_PORTABLE_SOURCES})
target_include_directories(host_portable_tests PRIVATE "${CMAKE_SOURCE_DIR}" "${MAKETOR_JSON_INCLUDE}")
target_compile_options(host_portable_tests PRIVATE ${MAKETOR_HOST_TEST_FLAGS})
target_link_options(host_portable_tests PRIVATE ${MAKETOR_HOST_TEST_LINK_FLAGS})
target_link_libraries(host_portable_tests PRIVATE gtest_main "${MAKETOR_ZSTD}")
add_test(NAME host.portable COMMAND host_portable_tests --gtest_brief=1)

# The publisher as a program, with its own signing code to make releases by hand.
if(TARGET maketor-publish)
  add_executable(host_publisher_tests test_publisher.cpp test_zstd_patch.cpp)
  target_compile_options(host_publisher_tests PRIVATE ${MAKETOR_HOST_TEST_FLAGS})
  target_link_options(host_publisher_tests PRIVATE ${MAKETOR_HOST_TEST_LINK_FLAGS})
  target_compile_definitions(host_publisher_tests PRIVATE MAKETOR_PUBLISH_EXE="$<TARGET_FILE:maketor-publish>"
                             MAKETOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(host_publisher_tests PRIVATE maketor_publisher gtest_main)
  add_dependencies(host_publisher_tests maketor-publish)
  add_test(NAME host.publisher COMMAND host_publisher_tests --gtest_brief=1)
endif()

# The thread-shared pieces alone, under ThreadSanitizer (which cannot share a program with ASan): the publisher's
# worker pool and the setup program's memory gate for unpacking.
add_executable(host_thread_tests test_ordered_work.cpp test_memory_gate.cpp ${CMAKE_SOURCE_DIR}/platform/memory_gate.cpp)
target_include_directories(host_thread_tests PRIVATE "${CMAKE_SOURCE_DIR}")
target_compile_options(host_thread_tests PRIVATE ${MAKETOR_HOST_FLAGS})
if(MAKETOR_SANITIZE)
  target_compile_options(host_thread_tests PRIVATE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(host_thread_tests PRIVATE -fsanitize=thread)
endif()
target_link_libraries(host_thread_tests PRIVATE gtest_main)
add_test(NAME host.threads COMMAND host_thread_tests --gtest_brief=1)
