# corvane's scanners of document text, and the readers of a package's own parts.
kestrel_add_fuzzer(payload_scanner LIBS corvane_core)
kestrel_add_fuzzer(stylesheet_reference LIBS corvane_core)
kestrel_add_fuzzer(odf_manifest LIBS corvane_core)
kestrel_add_fuzzer(ooxml_parts LIBS corvane_core)
# The flat form of a package reads its own output back with libxml2.
find_package(LibXml2 REQUIRED)
kestrel_add_fuzzer(flat_package LIBS corvane_core LibXml2::LibXml2)
