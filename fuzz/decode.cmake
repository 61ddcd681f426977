# The entry decoders over arbitrary entry data.
kestrel_add_fuzzer(inflate LIBS kestrel_decode)
