# Stand-ins for system libraries (tests/fakedll/planted_library.c), one per name, in <build>/planted/: the
# e2e suite test_library_search.py puts them next to copies of the setup program. Each exports every name
# that MinGW's import library of the real one exports, so that a program importing from the real library
# would run with the stand-in as well.
#
# The names: the libraries outside the KnownDLLs that runs of the setup program load once it runs (seen with
# WINEDEBUG=+loaddll): those it loads itself, and those that system libraries load for it, at start (imports)
# or later by bare name (windowscodecs with its import propsys for GDI+, secur32 for WinHTTP's TLS), which
# the program loads from System32 first. Left out, because Wine alone takes them from the program's folder
# whatever the program does:
# - ucrtbase, zlib1, version, win32u: imported by Wine's own msvcrt, sechost, user32 and gdi32, so loaded
#   before the program's first instruction (kernelbase comes with kernel32 the same way);
# - wined3d and winex11.drv: Wine's own, loaded by its dxgi and user32; Windows has no such libraries.
set(MAKETOR_PLANTED_LIBRARIES ${MAKETOR_DELAY_LOADED} windowscodecs propsys secur32 cabinet uxtheme opengl32 jsproxy
    kerberos msv1_0 schannel dnsapi iphlpapi netapi32 rsaenh)

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
