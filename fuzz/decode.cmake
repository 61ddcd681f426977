# The entry decoders over arbitrary entry data.
kestrel_add_fuzzer(inflate LIBS kestrel_decode)
# Inflate of the streams zlib's deflate makes of the fuzzer's bytes, against the bytes.
find_package(ZLIB REQUIRED)
kestrel_add_fuzzer(inflate_differential LIBS kestrel_decode ZLIB::ZLIB)
# Deflate64 of the programs of literals and matches read from the fuzzer's bytes and
# written with the fixed codes, against the bytes the programs give.
kestrel_add_fuzzer(deflate64_differential LIBS kestrel_decode)
# The methods decoded through libraries: a library's refusal is the entry's failure.
foreach(target bunzip2 lzma xz zstd)
  kestrel_add_fuzzer(${target} LIBS kestrel_decode)
endforeach()
# WinZip AES: the password check, the decryption, a real method's decoder and the
# authentication code over arbitrary entry data.
kestrel_add_fuzzer(winzip_aes LIBS kestrel_decode)
