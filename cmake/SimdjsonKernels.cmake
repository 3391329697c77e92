# en_simdjson_kernels(TARGET SOURCE): compiles SOURCE once for each of
# simdjson's kernels the target processor family has (fallback everywhere;
# westmere, haswell and icelake on x86_64), each with EN_KERNEL_IS_<KERNEL> defined
# and that kernel's instruction sets, and adds the objects to TARGET.  The
# source defines its functions in the kernel's namespace; the program picks
# one at run time (simdjson::get_active_implementation()), so it still runs
# on any processor of the family.  Where no kernel above fallback is
# compiled, the source defines nothing for it: EN_KERNEL_WESTMERE,
# EN_KERNEL_HASWELL and EN_KERNEL_ICELAKE tell TARGET's own sources which
# there are.
#
# Optimised, these objects define no function outside the kernel's
# namespace (nm; the test Tool.KernelObjects checks it); unoptimised, they would define the inline functions they
# call (std::string_view's, ...) as well, compiled with the kernel's
# instructions, and the linker might keep those copies for every caller.  So
# a Debug build still optimises them.
function(en_simdjson_kernels target source)
  set(kernels FALLBACK)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$" AND CMAKE_SIZEOF_VOID_P EQUAL 8)
    list(APPEND kernels WESTMERE HASWELL ICELAKE)
  endif()
  set(flags_WESTMERE -msse4.2 -mpclmul -mpopcnt)
  set(flags_HASWELL -mavx2 -mbmi -mpclmul -mlzcnt -mpopcnt)
  set(flags_ICELAKE ${flags_HASWELL} -mavx512f -mavx512dq -mavx512cd -mavx512bw -mavx512vbmi -mavx512vbmi2
                    -mavx512vl)
  foreach(kernel IN LISTS kernels)
    string(TOLOWER "${target}_${kernel}" objects)
    add_library(${objects} OBJECT ${source})
    target_compile_definitions(${objects} PRIVATE EN_KERNEL_IS_${kernel})
    target_compile_options(${objects} PRIVATE ${flags_${kernel}})
    if(NOT kernel STREQUAL "FALLBACK")
      target_compile_options(${objects} PRIVATE $<$<OR:$<CONFIG:Debug>,$<CONFIG:>>:-O2>)
    endif()
    target_link_libraries(${objects} PRIVATE Simdjson::Simdjson ${ARGN})
    set_target_properties(${objects} PROPERTIES POSITION_INDEPENDENT_CODE ON)
    target_sources(${target} PRIVATE $<TARGET_OBJECTS:${objects}>)
    target_compile_definitions(${target} PRIVATE EN_KERNEL_${kernel})
  endforeach()
endfunction()
