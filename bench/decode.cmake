# Inflate with CRC-32 in memory against zlib's and libdeflate's inflate on the same
# streams, and traditional decryption throughput. zlib and libdeflate are linked
# here only: they are the peers we measure against, never part of the product.
find_package(ZLIB REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBDEFLATE REQUIRED IMPORTED_TARGET libdeflate)
add_executable(bench_decode ${CMAKE_CURRENT_SOURCE_DIR}/decode_bench.cpp)
target_link_libraries(bench_decode PRIVATE kestrel_decode ZLIB::ZLIB PkgConfig::LIBDEFLATE)
