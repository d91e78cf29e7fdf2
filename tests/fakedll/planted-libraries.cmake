# Stand-ins for system libraries (tests/fakedll/planted_library.c), one per name, in <build>/planted/: the
# e2e suite test_library_search.py puts them next to copies of the setup program. Each exports every name
# that MinGW's import library of the real one exports, so that a program importing from the real library
# would run with the stand-in as well.
#
# The names: the libraries that are not KnownDLLs and that runs of the setup program load, seen with
# WINEDEBUG=+loaddll: those it delay-loads or loads itself, and those that system libraries load for it.
set(MAKETOR_PLANTED_LIBRARIES ${MAKETOR_DELAY_LOADED} cabinet uxtheme opengl32 jsproxy kerberos msv1_0 schannel dnsapi iphlpapi netapi32 rsaenh)

set(planted_dir "${CMAKE_BINARY_DIR}/planted")
foreach(library ${MAKETOR_PLANTED_LIBRARIES})
  set(definition "${planted_dir}/${library}.def")
  maketor_write_exports(${library} "${definition}" ALIAS plantedFunction)
  add_library(planted_${library} SHARED tests/fakedll/planted_library.c "${definition}")
  set_target_properties(planted_${library} PROPERTIES PREFIX "" OUTPUT_NAME ${library}
                        RUNTIME_OUTPUT_DIRECTORY "${planted_dir}")
  target_link_options(planted_${library} PRIVATE -static-libgcc)
  list(APPEND MAKETOR_PLANTED_TARGETS planted_${library})
endforeach()
