# The network rules (stall, retries, proxies) under the sanitizers; the same suite runs under Wine.
add_executable(host_network_tests ${CMAKE_SOURCE_DIR}/tests/wine/test_network_rules.cpp
               ${CMAKE_SOURCE_DIR}/platform/http_limits.cpp ${CMAKE_SOURCE_DIR}/platform/proxy_rules.cpp
               ${CMAKE_SOURCE_DIR}/engine/transfer_retry.cpp)
target_include_directories(host_network_tests PRIVATE "${CMAKE_SOURCE_DIR}")
target_compile_options(host_network_tests PRIVATE ${MAKETOR_HOST_TEST_FLAGS})
target_link_options(host_network_tests PRIVATE ${MAKETOR_HOST_TEST_LINK_FLAGS})
target_link_libraries(host_network_tests PRIVATE gtest_main)
add_test(NAME host.network COMMAND host_network_tests --gtest_brief=1)
