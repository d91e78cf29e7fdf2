# The manifest parser as copies installed earlier have it (engine/manifest.cpp of the last commit that changed
# it before a key was added), taken from the repository's history into the build folder, against a release
# with every key added since. One suite per parser:
# - before patches (the "patches" key of a file entry);
# - before the expiry and packs (the top-level "expires" and "packs" keys).
# Without the history (a shallow clone) the suites cannot be built, and configuring says so.
set(MAKETOR_OLDER_PARSERS
    "before-patches d9a713ce332ec069ee7980de5775de5f9ccc07ff"
    "before-expiry-and-packs 2552901519ae169448dee48a85348bd7ff7fea70")

foreach(parser ${MAKETOR_OLDER_PARSERS})
  separate_arguments(parser)
  list(GET parser 0 name)
  list(GET parser 1 commit)
  set(parser_file "${CMAKE_BINARY_DIR}/manifest-${name}/manifest.cpp")
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" show "${commit}:engine/manifest.cpp"
                  OUTPUT_VARIABLE parser_text RESULT_VARIABLE parser_status ERROR_QUIET)
  if(NOT parser_status EQUAL 0)
    message(FATAL_ERROR "the manifest parser of commit ${commit} is not in this repository's history; a clone "
                        "with history is needed for the host tests")
  endif()
  file(WRITE "${parser_file}.taken" "${parser_text}")
  configure_file("${parser_file}.taken" "${parser_file}" COPYONLY)

  if(TARGET maketor-publish)
    set(suite host_manifest_compat_${name})
    string(REPLACE "-" "_" suite "${suite}")
    add_executable(${suite} test_manifest_compat.cpp "${parser_file}" "${CMAKE_SOURCE_DIR}/engine/file_name_case.cpp")
    target_include_directories(${suite} PRIVATE "${CMAKE_SOURCE_DIR}" "${MAKETOR_JSON_INCLUDE}")
    target_compile_options(${suite} PRIVATE ${MAKETOR_HOST_TEST_FLAGS})
    target_link_options(${suite} PRIVATE ${MAKETOR_HOST_TEST_LINK_FLAGS})
    target_compile_definitions(${suite} PRIVATE MAKETOR_PUBLISH_EXE="$<TARGET_FILE:maketor-publish>"
                               MAKETOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" MAKETOR_OLDER_PARSER="${name}")
    target_link_libraries(${suite} PRIVATE gtest_main)
    add_dependencies(${suite} maketor-publish)
    add_test(NAME host.manifest_compat.${name} COMMAND ${suite} --gtest_brief=1)
  endif()
endforeach()
