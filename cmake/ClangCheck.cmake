# Compiles every product source a second time with clang, for the same
# Windows target and with warnings as errors, so that code only GCC accepts
# cannot creep in. Nothing is compiled to code: a stamp records that the check passed.

find_program(NIRVA_CLANG clang++ REQUIRED)

function(nirva_clang_check)
  # clang brings its own compiler headers; it takes the C++ library and the
  # Windows headers from the installed MinGW-w64 GCC.
  set(flags --target=x86_64-w64-mingw32 -std=c++20 -Wall -Wextra -Wpedantic -Werror
            -DUNICODE -D_UNICODE -DNOMINMAX -DWIN32_LEAN_AND_MEAN -D_WIN32_WINNT=0x0601
            -I${CMAKE_SOURCE_DIR}/src -DNIRVA_UPDATER_VERSION_TEXT=L"${NIRVA_UPDATER_VERSION}")
  foreach(directory ${CMAKE_CXX_IMPLICIT_INCLUDE_DIRECTORIES})
    if(directory MATCHES "/c\\+\\+")
      list(APPEND flags -isystem ${directory})
    endif()
  endforeach()
  set(objects "")
  foreach(source ${ARGN})
    get_filename_component(source ${source} ABSOLUTE BASE_DIR ${CMAKE_SOURCE_DIR})
    file(RELATIVE_PATH name ${CMAKE_SOURCE_DIR} ${source})
    string(MAKE_C_IDENTIFIER "${name}" name)
    set(object ${CMAKE_BINARY_DIR}/clang-check/${name}.o)
    add_custom_command(
      OUTPUT ${object}
      COMMAND ${NIRVA_CLANG} ${flags} -fsyntax-only -MD -MF ${object}.d -MT ${object} ${source}
      COMMAND ${CMAKE_COMMAND} -E touch ${object}
      DEPENDS ${source}
      DEPFILE ${object}.d
      COMMENT "clang: ${name}"
      VERBATIM)
    list(APPEND objects ${object})
  endforeach()
  add_custom_target(clang_check ALL DEPENDS ${objects})
endfunction()
