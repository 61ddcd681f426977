# Explode, unshrink and unreduce against Info-ZIP unzip, on data compressed by the
# test encoders of tests/unzip/legacy.
add_executable(bench_legacy ${CMAKE_CURRENT_SOURCE_DIR}/legacy_bench.cpp
  ${PROJECT_SOURCE_DIR}/tests/unzip/legacy/legacy_encoders.cpp
  ${PROJECT_SOURCE_DIR}/tests/unzip/legacy/legacy_support.cpp
  ${PROJECT_SOURCE_DIR}/tests/unzip/decode/decode_primitives.cpp)
target_include_directories(bench_legacy PRIVATE ${PROJECT_SOURCE_DIR}/tests/unzip/legacy)
target_link_libraries(bench_legacy PRIVATE kestrel_decode)
