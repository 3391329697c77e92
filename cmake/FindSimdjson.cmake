# Finds the simdjson library (Debian: libsimdjson-dev, and libsimdjson14:i386
# for the i386 build, whose package has no development link: the header is
# the same for every architecture, the library is found by its soname).
#
# Defines the imported target Simdjson::Simdjson.
find_path(Simdjson_INCLUDE_DIR simdjson.h)
find_library(Simdjson_LIBRARY NAMES simdjson libsimdjson.so.14)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Simdjson REQUIRED_VARS Simdjson_LIBRARY Simdjson_INCLUDE_DIR)

if(Simdjson_FOUND AND NOT TARGET Simdjson::Simdjson)
  add_library(Simdjson::Simdjson UNKNOWN IMPORTED)
  set_target_properties(Simdjson::Simdjson PROPERTIES
    IMPORTED_LOCATION "${Simdjson_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${Simdjson_INCLUDE_DIR}")
endif()
mark_as_advanced(Simdjson_INCLUDE_DIR Simdjson_LIBRARY)
