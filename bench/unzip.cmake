# The zip component's directory loading: a 65,535-entry central directory, and the
# rebuild search over 100 MB without a single local header.
add_executable(zip_directory_bench ${CMAKE_CURRENT_SOURCE_DIR}/zip_directory_bench.cpp)
target_link_libraries(zip_directory_bench PRIVATE kestrel_unzip)
