# The extraction driver: UnZip of arbitrary archive bytes into a fresh folder.
kestrel_add_fuzzer(unzip_extract LIBS kestrel_unzip)
