# The extraction driver: UnZip of arbitrary archive bytes into a fresh folder.
kestrel_add_fuzzer(unzip_extract LIBS kestrel_unzip)
# The same bytes read as a pipe gives them: a listing and a test, in one pass each.
kestrel_add_fuzzer(unzip_stream LIBS kestrel_unzip)
# One thread against three (workers decoding ahead): the same events and tree.
kestrel_add_fuzzer(threads_differential LIBS kestrel_unzip)
