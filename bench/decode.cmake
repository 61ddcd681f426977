# Inflate with CRC-32 in memory against zlib's inflate on the same streams, and
# traditional decryption throughput. zlib is linked here only.
find_package(ZLIB REQUIRED)
add_executable(bench_decode ${CMAKE_CURRENT_SOURCE_DIR}/decode_bench.cpp)
target_link_libraries(bench_decode PRIVATE kestrel_decode ZLIB::ZLIB)
