# corvane's scanners of document text.
kestrel_add_fuzzer(payload_scanner LIBS corvane_core)
kestrel_add_fuzzer(stylesheet_reference LIBS corvane_core)
kestrel_add_fuzzer(odf_manifest LIBS corvane_core)
