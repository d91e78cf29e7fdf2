# The manifest parser as older copies have it (engine/manifest.cpp of the last commit that changed it before
# a key was added), taken from the repository's history into the build folder, against a release with patches
# and packs. Without the history (a shallow clone) the suites cannot be built, and configuring says so.
#   before patches: d9a713c; before packs: 2552901.
function(maketor_manifest_compat_test name commit knows_patches)
  set(parser "${CMAKE_BINARY_DIR}/manifest-${name}/manifest.cpp")
  execute_process(COMMAND git -C "${CMAKE_SOURCE_DIR}" show "${commit}:engine/manifest.cpp"
                  OUTPUT_VARIABLE parser_text RESULT_VARIABLE parser_status ERROR_QUIET)
  if(NOT parser_status EQUAL 0)
    message(FATAL_ERROR "the manifest parser of commit ${commit} is not in this repository's history; a clone "
                        "with history is needed for the host tests")
  endif()
  file(WRITE "${parser}.taken" "${parser_text}")
  configure_file("${parser}.taken" "${parser}" COPYONLY)
  if(TARGET maketor-publish)
    set(target host_manifest_${name}_tests)
    add_executable(${target} test_manifest_compat.cpp "${parser}"
                   "${CMAKE_SOURCE_DIR}/engine/file_name_case.cpp")
    target_include_directories(${target} PRIVATE "${CMAKE_SOURCE_DIR}" "${MAKETOR_JSON_INCLUDE}")
    target_compile_options(${target} PRIVATE ${MAKETOR_HOST_TEST_FLAGS})
    target_link_options(${target} PRIVATE ${MAKETOR_HOST_TEST_LINK_FLAGS})
    target_compile_definitions(${target} PRIVATE MAKETOR_PUBLISH_EXE="$<TARGET_FILE:maketor-publish>"
                               MAKETOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}" MAKETOR_PARSER_KNOWS_PATCHES=${knows_patches})
    target_link_libraries(${target} PRIVATE gtest_main)
    add_dependencies(${target} maketor-publish)
    add_test(NAME host.manifest_${name} COMMAND ${target} --gtest_brief=1)
  endif()
endfunction()

maketor_manifest_compat_test(before_patches d9a713ce332ec069ee7980de5775de5f9ccc07ff 0)
maketor_manifest_compat_test(before_packs 2552901519ae169448dee48a85348bd7ff7fea70 1)
