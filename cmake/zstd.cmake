# zstd, for patches between releases. The host tools link Debian's libzstd-dev; the product (and the patch
# fuzzer) compile the decompressor from Debian's source package, which tools/bootstrap unpacks with
# `apt-get source` into MAKETOR_ZSTD_SOURCE. Both are the same upstream release, checked here.
#
# The Debian version pinned for the source: the one this Debian release's mirror serves source for.
set(MAKETOR_ZSTD_DEBIAN_VERSION "1.5.4+dfsg2-5")
set(MAKETOR_ZSTD_UPSTREAM_VERSION "1.5.4")
set(MAKETOR_ZSTD_SOURCE "${CMAKE_SOURCE_DIR}/build/third_party/libzstd" CACHE PATH
    "Debian's libzstd source package, unpacked (tools/bootstrap puts it there)")

# Fails the configure unless the zstd.h at header is of the pinned upstream release.
function(maketor_check_zstd_header header)
  file(STRINGS "${header}" lines REGEX "^#define ZSTD_VERSION_(MAJOR|MINOR|RELEASE) +[0-9]+")
  set(parts)
  foreach(name MAJOR MINOR RELEASE)
    foreach(line ${lines})
      if(line MATCHES "^#define ZSTD_VERSION_${name} +([0-9]+)")
        list(APPEND parts "${CMAKE_MATCH_1}")
      endif()
    endforeach()
  endforeach()
  list(JOIN parts "." found)
  if(NOT found STREQUAL MAKETOR_ZSTD_UPSTREAM_VERSION)
    message(FATAL_ERROR "${header} is zstd ${found}, not ${MAKETOR_ZSTD_UPSTREAM_VERSION}")
  endif()
endfunction()

# The decompressor alone (lib/common and lib/decompress), from the unpacked source package, as the static
# library NAME compiled with the extra options that follow.
function(maketor_zstd_decompressor name)
  set(source "${MAKETOR_ZSTD_SOURCE}")
  if(NOT EXISTS "${source}/debian/changelog" OR NOT EXISTS "${source}/lib/zstd.h")
    message(FATAL_ERROR "Debian's libzstd source is not unpacked in ${source}: run tools/bootstrap")
  endif()
  file(STRINGS "${source}/debian/changelog" heading LIMIT_COUNT 1)
  if(NOT heading MATCHES "^libzstd \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL MAKETOR_ZSTD_DEBIAN_VERSION)
    message(FATAL_ERROR "${source} holds \"${heading}\", not libzstd ${MAKETOR_ZSTD_DEBIAN_VERSION}: "
                        "run tools/bootstrap")
  endif()
  maketor_check_zstd_header("${source}/lib/zstd.h")
  set(files common/debug.c common/entropy_common.c common/error_private.c common/fse_decompress.c
      common/xxhash.c common/zstd_common.c decompress/huf_decompress.c decompress/zstd_ddict.c
      decompress/zstd_decompress.c decompress/zstd_decompress_block.c)
  list(TRANSFORM files PREPEND "${source}/lib/")
  add_library(${name} STATIC ${files})
  target_include_directories(${name} SYSTEM PUBLIC "${source}/lib")
  # No assembly (the x86-64 Huffman loop is written for the System V ABI) and no legacy formats: a patch is
  # always a current frame.
  target_compile_definitions(${name} PRIVATE ZSTD_DISABLE_ASM ZSTD_LEGACY_SUPPORT=0 XXH_NAMESPACE=ZSTD_)
  target_compile_options(${name} PRIVATE -O2 ${ARGN})
  set_target_properties(${name} PROPERTIES C_VISIBILITY_PRESET hidden)
endfunction()
