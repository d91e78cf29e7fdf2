# The manifest parser as copies installed before patches have it (engine/manifest.cpp of the last commit that
# changed it before), taken from the repository's history into the build folder, against a release with
# patches. Without the history (a shallow clone) the suite cannot be built, and configuring says so.
set(MAKETOR_PARSER_BEFORE_PATCHES_COMMIT d9a713ce332ec069ee7980de5775de5f9ccc07ff)
set(MAKETOR_PARSER_BEFORE_PATCHES "${CMAKE_BINARY_DIR}/manifest-before-patches/manifest.cpp")
execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" show "${MAKETOR_PARSER_BEFORE_PATCHES_COMMIT}:engine/manifest.cpp"
                OUTPUT_VARIABLE parser_text RESULT_VARIABLE parser_status ERROR_QUIET)
if(NOT parser_status EQUAL 0)
  message(FATAL_ERROR "the manifest parser of commit ${MAKETOR_PARSER_BEFORE_PATCHES_COMMIT} is not in this "
                      "repository's history; a clone with history is needed for the host tests")
endif()
file(WRITE "${MAKETOR_PARSER_BEFORE_PATCHES}.taken" "${parser_text}")
configure_file("${MAKETOR_PARSER_BEFORE_PATCHES}.taken" "${MAKETOR_PARSER_BEFORE_PATCHES}" COPYONLY)

if(TARGET maketor-publish)
  add_executable(host_manifest_compat_tests test_manifest_before_patches.cpp "${MAKETOR_PARSER_BEFORE_PATCHES}"
                 "${CMAKE_SOURCE_DIR}/engine/file_name_case.cpp")
  target_include_directories(host_manifest_compat_tests PRIVATE "${CMAKE_SOURCE_DIR}" "${MAKETOR_JSON_INCLUDE}")
  target_compile_options(host_manifest_compat_tests PRIVATE ${MAKETOR_HOST_TEST_FLAGS})
  target_link_options(host_manifest_compat_tests PRIVATE ${MAKETOR_HOST_TEST_LINK_FLAGS})
  target_compile_definitions(host_manifest_compat_tests PRIVATE MAKETOR_PUBLISH_EXE="$<TARGET_FILE:maketor-publish>"
                             MAKETOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_link_libraries(host_manifest_compat_tests PRIVATE gtest_main)
  add_dependencies(host_manifest_compat_tests maketor-publish)
  add_test(NAME host.manifest_compat COMMAND host_manifest_compat_tests --gtest_brief=1)
endif()
