# Fails unless the library's dynamic symbol table defines exactly the two
# entry points as functions under version EN_VALIDATION_1, and the tool's
# four under EN_VALIDATION_PRIVATE, and the library carries its SONAME.
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIB}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TtWwi] [^\n]+" funcs "${syms}")
list(TRANSFORM funcs REPLACE "^[0-9a-f]+ [TtWwi] " "")
list(SORT funcs)
if(NOT funcs STREQUAL "En_Validate_Log@@EN_VALIDATION_1;En_Validate_Log_All@@EN_VALIDATION_PRIVATE;En_Validate_Log_Located@@EN_VALIDATION_PRIVATE;En_Validate_RegisterData@@EN_VALIDATION_1;En_Validate_RegisterData_All@@EN_VALIDATION_PRIVATE;En_Validate_RegisterData_Located@@EN_VALIDATION_PRIVATE")
  message(FATAL_ERROR "exported functions: ${funcs}")
endif()
execute_process(COMMAND objdump -p ${LIB} OUTPUT_VARIABLE dyn)
if(NOT dyn MATCHES "SONAME +libEn_Validation\\.so\\.1\n")
  message(FATAL_ERROR "missing SONAME libEn_Validation.so.1")
endif()
