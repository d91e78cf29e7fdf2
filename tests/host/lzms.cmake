# LZMS: our decoder against the genuine Windows blobs and against libwim's blobs, under ASan and UBSan;
# and the fixtures that the Wine tests unpack with the product's code (in lzms-fixtures/ of this build).
add_library(maketor_lzms_samples STATIC lzms_samples.cpp)
target_compile_options(maketor_lzms_samples PRIVATE ${MAKETOR_HOST_FLAGS})
target_link_libraries(maketor_lzms_samples PUBLIC maketor_lzms_writer)

add_executable(make_lzms_fixtures make_lzms_fixtures.cpp)
target_link_libraries(make_lzms_fixtures PRIVATE maketor_lzms_samples)
set(MAKETOR_LZMS_FIXTURES "${CMAKE_BINARY_DIR}/lzms-fixtures")
add_custom_command(OUTPUT "${MAKETOR_LZMS_FIXTURES}/index.txt"
                   COMMAND make_lzms_fixtures "${CMAKE_SOURCE_DIR}/tests/fixtures/lzms-windows"
                           "${MAKETOR_LZMS_FIXTURES}"
                   DEPENDS make_lzms_fixtures
                   COMMENT "LZMS fixtures for the Wine tests")
add_custom_target(lzms_fixtures ALL DEPENDS "${MAKETOR_LZMS_FIXTURES}/index.txt")

add_executable(test_lzms_decoder test_lzms_decoder.cpp)
target_compile_definitions(test_lzms_decoder PRIVATE
                           MAKETOR_LZMS_GENUINE_DIR="${CMAKE_SOURCE_DIR}/tests/fixtures/lzms-windows")
target_link_libraries(test_lzms_decoder PRIVATE maketor_lzms_samples gtest_main)
add_test(NAME host.lzms_decoder COMMAND test_lzms_decoder --gtest_brief=1)
set_tests_properties(host.lzms_decoder PROPERTIES TIMEOUT 900)
