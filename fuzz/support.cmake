# The code that the fuzz target shares with the hardening tests: the
# grammar list with the record checks.  It calls the two entry points but links no validation library:
# each user links the one it tests (shared, or the static internal copy).
if(NOT TARGET en_fuzz_support)
  add_library(en_fuzz_support STATIC ${PROJECT_SOURCE_DIR}/fuzz/RecordChecks.cpp)
  target_include_directories(en_fuzz_support PUBLIC ${PROJECT_SOURCE_DIR}/fuzz)
  target_link_libraries(en_fuzz_support PUBLIC en_internal_headers En_Utility PRIVATE en_warnings)
endif()
