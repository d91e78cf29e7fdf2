# Native build: the release publisher, the portable sources, host tests, fuzzers, benchmarks. Optimized and
# without sanitizers by default, as release engineers build the publisher; tools/test turns them on.
set(MAKETOR_HOST_FLAGS -Wall -Wextra)

option(MAKETOR_SANITIZE "Build the host code and tests with ASan and UBSan" OFF)
if(MAKETOR_SANITIZE)
  set(MAKETOR_SANITIZER_FLAGS -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
endif()

# Debian's libzstd-dev, of the same upstream release as the source the product compiles.
find_path(MAKETOR_ZSTD_INCLUDE zstd.h REQUIRED)
find_library(MAKETOR_ZSTD zstd REQUIRED)
maketor_check_zstd_header("${MAKETOR_ZSTD_INCLUDE}/zstd.h")

if(MAKETOR_PORTABLE_SOURCES)
  add_library(maketor_portable STATIC ${MAKETOR_PORTABLE_SOURCES})
  target_include_directories(maketor_portable PUBLIC "${CMAKE_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/generated"
                             "${MAKETOR_JSON_INCLUDE}")
  target_compile_options(maketor_portable PRIVATE ${MAKETOR_HOST_FLAGS} PUBLIC ${MAKETOR_SANITIZER_FLAGS})
  target_link_options(maketor_portable PUBLIC ${MAKETOR_SANITIZER_FLAGS})
  target_link_libraries(maketor_portable PUBLIC "${MAKETOR_ZSTD}")
endif()

include(tools/publisher/lzms-writer.cmake)

foreach(sub tools/publisher tests/host tests/fuzz bench)
  if(EXISTS "${CMAKE_SOURCE_DIR}/${sub}/CMakeLists.txt")
    add_subdirectory(${sub})
  endif()
endforeach()
