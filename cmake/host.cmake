# Native build: the portable sources with sanitizers, the release publisher, host tests, fuzzers, benchmarks.
set(MAKETOR_HOST_FLAGS -Wall -Wextra)

if(MAKETOR_PORTABLE_SOURCES)
  add_library(maketor_portable STATIC ${MAKETOR_PORTABLE_SOURCES})
  target_include_directories(maketor_portable PUBLIC "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated"
                             "${MAKETOR_JSON_INCLUDE}")
  target_compile_options(maketor_portable PRIVATE ${MAKETOR_HOST_FLAGS})
endif()

include(tools/publisher/lzms-writer.cmake)

option(MAKETOR_SANITIZE "Build host tests with ASan and UBSan" ON)

foreach(sub tools/publisher tests/host tests/fuzz bench)
  if(EXISTS "${CMAKE_SOURCE_DIR}/${sub}/CMakeLists.txt")
    add_subdirectory(${sub})
  endif()
endforeach()
