# Finds Nettle, the cryptographic library of WinZip AES decryption, as the imported
# target Nettle::Nettle. Nettle ships no CMake package: its header folder and its
# library are looked for, and a cross build names them itself (NETTLE_INCLUDE_DIR,
# NETTLE_LIBRARY), as scripts/build-win32 does.
#
# Installed beside the zip component's CMake package, which finds Nettle through it.
find_path(NETTLE_INCLUDE_DIR nettle/aes.h)
find_library(NETTLE_LIBRARY nettle)

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(Nettle REQUIRED_VARS NETTLE_LIBRARY NETTLE_INCLUDE_DIR)

if(Nettle_FOUND AND NOT TARGET Nettle::Nettle)
  add_library(Nettle::Nettle UNKNOWN IMPORTED)
  set_target_properties(Nettle::Nettle PROPERTIES
    IMPORTED_LOCATION "${NETTLE_LIBRARY}"
    INTERFACE_INCLUDE_DIRECTORIES "${NETTLE_INCLUDE_DIR}")
endif()
mark_as_advanced(NETTLE_INCLUDE_DIR NETTLE_LIBRARY)
