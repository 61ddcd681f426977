# kestrel-unzip: its listings (--json too) and terminal text of the directory of arbitrary bytes.
kestrel_add_fuzzer(unzip_listing LIBS kestrel_unzip_tool)
