# The Windows product, its in-process tests and the helper programs the tests run under Wine.
enable_language(RC)

set(MAKETOR_WIN_FLAGS -Wall -Wextra -municode -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
    -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00)
set(MAKETOR_STATIC_LINK -static -static-libgcc -static-libstdc++)
# Imported directly: KnownDLLs only, which Windows always maps from System32.
set(MAKETOR_WIN_LIBS gdiplus shlwapi ole32 oleaut32 shell32 uuid user32 gdi32 advapi32 kernel32)
include(cmake/delay-load.cmake)

file(GLOB MAKETOR_CORE_SOURCES CONFIGURE_DEPENDS
     app/*.cpp engine/*.cpp platform/*.cpp ui/*.cpp)
list(REMOVE_ITEM MAKETOR_CORE_SOURCES "${CMAKE_SOURCE_DIR}/app/main.cpp")
list(APPEND MAKETOR_CORE_SOURCES ${MAKETOR_PORTABLE_SOURCES})
list(REMOVE_DUPLICATES MAKETOR_CORE_SOURCES)

# The release public key, scrambled into a generated source file.
include(cmake/release-key.cmake)
list(APPEND MAKETOR_CORE_SOURCES "${MAKETOR_RELEASE_KEY_SOURCE}")

# Everything but the entry point, so that the tests link the very code the product runs.
add_library(maketor_core STATIC ${MAKETOR_CORE_SOURCES})
target_include_directories(maketor_core PUBLIC "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated"
                           "${MAKETOR_JSON_INCLUDE}")
target_compile_options(maketor_core PUBLIC ${MAKETOR_WIN_FLAGS})
# zstd's decompressor from Debian's source package (cmake/zstd.cmake), for patches between releases.
maketor_zstd_decompressor(maketor_zstd_decompressor)
target_link_libraries(maketor_core PUBLIC maketor_zstd_decompressor ${MAKETOR_DELAY_LOAD_LIBS} ${MAKETOR_WIN_LIBS})
# The delay-load hook of platform/system_libraries.cpp, linked ahead of the runtime's empty one.
target_link_options(maketor_core INTERFACE "LINKER:--undefined=__pfnDliNotifyHook2")

file(GLOB MAKETOR_RESOURCE_FILES CONFIGURE_DEPENDS resources/*)
add_executable(maketor-setup WIN32 app/main.cpp resources/maketor-setup.rc)
set_source_files_properties(resources/maketor-setup.rc PROPERTIES OBJECT_DEPENDS "${MAKETOR_RESOURCE_FILES}")
target_link_libraries(maketor-setup PRIVATE maketor_core)
target_link_options(maketor-setup PRIVATE ${MAKETOR_STATIC_LINK} -municode -mwindows)
set_target_properties(maketor-setup PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")

# Helper programs used by tests and the demo (each tests/wine/helpers/NAME.cpp becomes NAME.exe).
file(GLOB MAKETOR_TEST_HELPERS CONFIGURE_DEPENDS tests/wine/helpers/*.cpp)
foreach(helper_source ${MAKETOR_TEST_HELPERS})
  get_filename_component(helper_name "${helper_source}" NAME_WE)
  add_executable(${helper_name} ${helper_source})
  target_include_directories(${helper_name} PRIVATE "${CMAKE_SOURCE_DIR}/tests/wine/support")
  target_link_libraries(${helper_name} PRIVATE maketor_core)
  target_link_options(${helper_name} PRIVATE ${MAKETOR_STATIC_LINK} -municode)
  set_target_properties(${helper_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
endforeach()

include(tests/fakedll/planted-libraries.cmake)

# One test executable per suite: tests/wine/test_NAME.cpp. They run under Wine, one process per suite,
# never in parallel (they share the Wine prefix's registry, desktop and the test server's port).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
file(GLOB MAKETOR_WINE_TESTS CONFIGURE_DEPENDS tests/wine/test_*.cpp)
foreach(test_source ${MAKETOR_WINE_TESTS})
  get_filename_component(test_name "${test_source}" NAME_WE)
  add_executable(${test_name} ${test_source} tests/wine/support/test_support.cpp)
  target_include_directories(${test_name} PRIVATE "${CMAKE_SOURCE_DIR}/tests/wine/support")
  target_link_libraries(${test_name} PRIVATE maketor_core gtest_main)
  # Unix paths; the tests reach them through Wine's drive Z:.
  target_compile_definitions(${test_name} PRIVATE MAKETOR_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
                             MAKETOR_RELEASE_KEY_FILE="${MAKETOR_RELEASE_KEY}")
  target_link_options(${test_name} PRIVATE ${MAKETOR_STATIC_LINK})
  set_target_properties(${test_name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
  add_dependencies(${test_name} maketor-setup)
  if(MAKETOR_TEST_HELPERS)
    foreach(helper_source ${MAKETOR_TEST_HELPERS})
      get_filename_component(helper_name "${helper_source}" NAME_WE)
      add_dependencies(${test_name} ${helper_name})
    endforeach()
  endif()
  add_test(NAME wine.${test_name} COMMAND ${test_name} --gtest_brief=1)
  set_tests_properties(wine.${test_name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 900)
endforeach()

# End-to-end suites driven from Linux (a real HTTPS server, the real executable under Wine).
file(GLOB MAKETOR_E2E_SUITES CONFIGURE_DEPENDS tests/e2e/test_*.py)
foreach(suite ${MAKETOR_E2E_SUITES})
  get_filename_component(suite_name "${suite}" NAME_WE)
  add_test(NAME e2e.${suite_name} COMMAND python3 -m unittest -v ${suite_name}
           WORKING_DIRECTORY "${CMAKE_SOURCE_DIR}/tests/e2e")
  set_tests_properties(e2e.${suite_name} PROPERTIES RUN_SERIAL TRUE TIMEOUT 1800
                       ENVIRONMENT "MAKETOR_CROSS_BUILD=${CMAKE_BINARY_DIR}")
endforeach()
