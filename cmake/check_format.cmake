# cmake -DSOURCE_DIR=... -P check_format.cmake
# Fails if any C or C++ file of the project differs from what clang-format
# makes of it with the project's .clang-format.  The files are the ones git
# tracks; in a tree without git, every C/C++ file outside build folders.
find_program(CLANG_FORMAT NAMES clang-format)
if(NOT CLANG_FORMAT)
  message(FATAL_ERROR "clang-format not found (Debian package clang-format)")
endif()

set(files "")
find_program(GIT NAMES git)
if(GIT AND EXISTS ${SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT} ls-files -- "*.c" "*.h" "*.cpp" "*.hpp"
                  WORKING_DIRECTORY ${SOURCE_DIR} OUTPUT_VARIABLE listed
                  RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "git ls-files failed in ${SOURCE_DIR}")
  endif()
  string(REPLACE "\n" ";" listed "${listed}")
  foreach(file IN LISTS listed)
    list(APPEND files ${SOURCE_DIR}/${file})
  endforeach()
else()
  file(GLOB_RECURSE files ${SOURCE_DIR}/*.c ${SOURCE_DIR}/*.h ${SOURCE_DIR}/*.cpp
       ${SOURCE_DIR}/*.hpp)
  list(FILTER files EXCLUDE REGEX "^${SOURCE_DIR}/(build|\\.)")
endif()
list(LENGTH files count)
if(count EQUAL 0)
  message(FATAL_ERROR "no C or C++ files found in ${SOURCE_DIR}")
endif()

execute_process(COMMAND ${CLANG_FORMAT} --dry-run -Werror --style=file ${files}
                WORKING_DIRECTORY ${SOURCE_DIR} RESULT_VARIABLE status
                ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "files differ from .clang-format (run clang-format -i on them):\n${errors}")
endif()
message(STATUS "${count} files formatted as .clang-format asks")
