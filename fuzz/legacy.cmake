# The legacy-method decoders over arbitrary entry data and declared sizes.
kestrel_add_fuzzer(explode LIBS kestrel_decode)
kestrel_add_fuzzer(unshrink LIBS kestrel_decode)
kestrel_add_fuzzer(unreduce LIBS kestrel_decode)
