# The publisher's LZMS blob writer: libwim compresses, we frame the chunks in the buffer-mode container.
find_path(MAKETOR_WIMLIB_INCLUDE wimlib.h REQUIRED)
find_library(MAKETOR_WIMLIB wim REQUIRED)

add_library(maketor_lzms_writer STATIC "${CMAKE_SOURCE_DIR}/tools/publisher/lzms_compress.cpp")
target_include_directories(maketor_lzms_writer PUBLIC "${CMAKE_SOURCE_DIR}" "${MAKETOR_WIMLIB_INCLUDE}")
target_compile_options(maketor_lzms_writer PRIVATE ${MAKETOR_HOST_FLAGS})
# The container header (magic, check byte) comes from the portable code the decoder uses too.
target_link_libraries(maketor_lzms_writer PUBLIC maketor_portable "${MAKETOR_WIMLIB}")
