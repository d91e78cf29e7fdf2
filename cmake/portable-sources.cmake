# Plain C++ with no Windows header. The product compiles them, and so do the host tools, tests and fuzzers.
set(MAKETOR_PORTABLE_SOURCES
  "${CMAKE_SOURCE_DIR}/app/command_line.cpp"
  "${CMAKE_SOURCE_DIR}/engine/components.cpp"
  "${CMAKE_SOURCE_DIR}/engine/file_name_case.cpp"
  "${CMAKE_SOURCE_DIR}/engine/install_record_reader.cpp"
  "${CMAKE_SOURCE_DIR}/engine/manifest.cpp"
  "${CMAKE_SOURCE_DIR}/engine/pack_cut.cpp"
  "${CMAKE_SOURCE_DIR}/engine/pack_plan.cpp"
  "${CMAKE_SOURCE_DIR}/engine/transfers_in_flight.cpp"
  "${CMAKE_SOURCE_DIR}/engine/release_freshness.cpp"
  "${CMAKE_SOURCE_DIR}/engine/version_order.cpp"
  "${CMAKE_SOURCE_DIR}/platform/lzms_container.cpp"
  "${CMAKE_SOURCE_DIR}/platform/lzms_decoder.cpp"
  "${CMAKE_SOURCE_DIR}/platform/zstd_patch.cpp"
)
