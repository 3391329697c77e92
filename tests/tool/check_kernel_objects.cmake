# Fails when the object of a kernel's walk (cmake/SimdjsonKernels.cmake)
# defines a function outside the kernel's namespace other than its factory:
# the linker could keep that copy, made with the kernel's instructions, for
# callers on any processor.
#   cmake -DOBJECT=... -DKERNEL=haswell -DFACTORY=NewHaswellWalker -P check_kernel_objects.cmake
execute_process(COMMAND nm -C --defined-only ${OBJECT} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "nm failed on ${OBJECT}")
endif()
string(REGEX MATCHALL "[0-9a-f]+ [TWi] [^\n]+" funcs "${syms}")
list(FILTER funcs EXCLUDE REGEX "::${KERNEL}::|::${FACTORY}\\(\\)$")
if(funcs)
  message(FATAL_ERROR "defined outside namespace ${KERNEL}: ${funcs}")
endif()
