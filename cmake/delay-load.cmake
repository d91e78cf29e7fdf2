# System libraries that are not KnownDLLs are delay-loaded: none of them is loaded when the process starts,
# before the entry point has restricted the DLL search to System32, and platform/system_libraries.cpp loads
# each from System32 on its first call. Their delay-import libraries are made with dlltool from the names
# MinGW's import libraries export. Any other library is loaded with LoadLibraryExW and
# LOAD_LIBRARY_SEARCH_SYSTEM32.
set(MAKETOR_DELAY_LOADED winhttp bcrypt crypt32 dxgi)

find_program(MAKETOR_DLLTOOL NAMES ${MINGW_PREFIX}-dlltool REQUIRED)
find_program(MAKETOR_NM NAMES ${MINGW_PREFIX}-nm REQUIRED)

# Writes a module definition file for LIBRARY (a name such as winhttp) that exports every name of MinGW's
# import library for it, none when there is no such library; each export is an alias of ALIAS when given.
function(maketor_write_exports library definition)
  cmake_parse_arguments(PARSE_ARGV 2 arg "" "ALIAS" "")
  set(import_library "${CMAKE_FIND_ROOT_PATH}/lib/lib${library}.a")
  set(imports)
  if(EXISTS "${import_library}")
    execute_process(COMMAND "${MAKETOR_NM}" "${import_library}" OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[^\r\n]+" imports "${symbols}")
    list(TRANSFORM imports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES imports)
    list(SORT imports)
    if(arg_ALIAS)
      list(TRANSFORM imports APPEND " = ${arg_ALIAS}")
    endif()
  endif()
  string(JOIN "\n" exports ${imports})
  file(WRITE "${definition}" "LIBRARY ${library}.dll\nEXPORTS\n${exports}\n")
endfunction()

set(MAKETOR_DELAY_LOAD_DIR "${CMAKE_BINARY_DIR}/delay-load")
file(MAKE_DIRECTORY "${MAKETOR_DELAY_LOAD_DIR}")
set(MAKETOR_DELAY_LOAD_LIBS)
foreach(library ${MAKETOR_DELAY_LOADED})
  maketor_write_exports(${library} "${MAKETOR_DELAY_LOAD_DIR}/${library}.def")
  # Run in the folder, so that the symbols dlltool derives from the output name hold no build path.
  execute_process(COMMAND "${MAKETOR_DLLTOOL}" --dllname ${library}.dll --input-def ${library}.def
                          --output-delaylib lib${library}-delay.a
                  WORKING_DIRECTORY "${MAKETOR_DELAY_LOAD_DIR}" COMMAND_ERROR_IS_FATAL ANY)
  list(APPEND MAKETOR_DELAY_LOAD_LIBS "${MAKETOR_DELAY_LOAD_DIR}/lib${library}-delay.a")
endforeach()
