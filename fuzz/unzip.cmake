# The zip component: loading the directory of arbitrary bytes under each IncompleteZipMode.
kestrel_add_fuzzer(zip_directory LIBS kestrel_unzip)
