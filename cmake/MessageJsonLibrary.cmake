# en_messagejson_library(TARGET TYPE [LIBRARY...]): the JSON message form
# (tools/msgjson: its reader, encoder and decoder, the blob checks and the
# grammar names) as a library of TYPE: SHARED for libEn_MessageJson.so.1,
# STATIC for the fuzz target.  Its value walk is compiled once for each of
# simdjson's kernels (SimdjsonKernels.cmake).  Nothing in it throws
# (msgjson/Fault.h), and it is compiled without exceptions, as the
# validation libraries are.  The LIBRARYs are linked privately into every
# object of it (the fuzz build's coverage feedback).
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})
find_package(Simdjson MODULE REQUIRED)
include(SimdjsonKernels)

function(en_messagejson_library target type)
  set(dir ${PROJECT_SOURCE_DIR}/tools/msgjson)
  add_library(${target} ${type} ${dir}/CInterface.cpp ${dir}/Decoder.cpp ${dir}/Encoder.cpp ${dir}/GrammarTree.cpp
                                ${dir}/Reader.cpp ${dir}/Utf8.cpp)
  target_include_directories(${target} PUBLIC ${dir})
  if(type STREQUAL "STATIC")
    target_compile_definitions(${target} PRIVATE EN_MSGJSON_STATIC)
  endif()
  target_link_libraries(${target} PUBLIC En_Utility
                                  PRIVATE Simdjson::Simdjson en_internal_headers en_no_exceptions en_warnings ${ARGN})
  en_simdjson_kernels(${target} ${dir}/ReaderWalk.cpp En_Utility en_no_exceptions en_warnings ${ARGN})
endfunction()
