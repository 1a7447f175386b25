# Runs stitch_bench once and checks its exit status and what it says.
cmake_minimum_required(VERSION 3.25)
#   -DBENCH=<program> -DWORK=<scratch folder> -DSETUP=<none|one_good_one_text|two_good (and a folder out.png)>
#   -DPHOTOS=<shared photo folder> -DARGS=<arguments, '|'-separated, {work} replaced>
#   -DEXIT=<expected status> -DSTDERR=<regex> [-DSTDOUT=<regex>]
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

set(ring "${PHOTOS}/apartment-ring")
if(SETUP STREQUAL "one_good_one_text" OR SETUP STREQUAL "two_good")
  if(NOT EXISTS "${ring}/small-01.jpg")
    message("shared photos are not present")
    return()
  endif()
  file(MAKE_DIRECTORY "${WORK}/photos")
  file(COPY "${ring}/small-01.jpg" DESTINATION "${WORK}/photos")
  if(SETUP STREQUAL "one_good_one_text")
    file(WRITE "${WORK}/photos/notes.jpg" "not a photo\n")
  else()
    file(COPY "${ring}/small-02.jpg" DESTINATION "${WORK}/photos")
    file(MAKE_DIRECTORY "${WORK}/out.png")
  endif()
endif()

string(REPLACE "{work}" "${WORK}" args "${ARGS}")
string(REPLACE "|" ";" args "${args}")
execute_process(COMMAND "${BENCH}" ${args}
  RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
message("exit status ${status}\n--- stdout\n${out}--- stderr\n${err}")
if(NOT status STREQUAL "${EXIT}")
  message(FATAL_ERROR "expected exit status ${EXIT}, got ${status}")
endif()
if(NOT err MATCHES "${STDERR}")
  message(FATAL_ERROR "stderr does not match: ${STDERR}")
endif()
if(DEFINED STDOUT AND NOT out MATCHES "${STDOUT}")
  message(FATAL_ERROR "stdout does not match: ${STDOUT}")
endif()
file(REMOVE_RECURSE "${WORK}")
