# Delay-import libraries: a DLL linked through one is loaded when one of its
# functions is first called, not when the program starts. The updater
# limits the DLL search to the system directory before that first call (see
# src/main.cpp), so a DLL planted in the office folder is never loaded.
#
# Each library is made from MinGW-w64's own import library of the DLL: its
# exports, as dlltool reads them from a module definition file.

find_program(NIRVA_NM ${MINGW_PREFIX}-nm REQUIRED)
find_program(NIRVA_DLLTOOL ${MINGW_PREFIX}-dlltool REQUIRED)

# nirva_delay_import_libraries(<variable> <dll name>...): sets the variable to
# the delay-import libraries of the named DLLs (without ".dll").
function(nirva_delay_import_libraries out)
  set(directory ${CMAKE_BINARY_DIR}/delayload)
  file(MAKE_DIRECTORY ${directory})
  set(libraries "")
  foreach(name ${ARGN})
    find_library(NIRVA_IMPORT_LIBRARY_${name} NAMES lib${name}.a REQUIRED)
    execute_process(COMMAND ${NIRVA_NM} -g --defined-only ${NIRVA_IMPORT_LIBRARY_${name}}
                    OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REGEX MATCHALL " I __imp_[A-Za-z0-9_@]+" exports "${symbols}")
    list(TRANSFORM exports REPLACE " I __imp_" "")
    list(REMOVE_DUPLICATES exports)
    list(JOIN exports "\n" export_lines)
    file(WRITE ${directory}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${export_lines}\n")
    execute_process(COMMAND ${NIRVA_DLLTOOL} --input-def ${directory}/${name}.def
                            --output-delaylib ${directory}/lib${name}_delay.a
                    COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND libraries ${directory}/lib${name}_delay.a)
  endforeach()
  set(${out} ${libraries} PARENT_SCOPE)
endfunction()
