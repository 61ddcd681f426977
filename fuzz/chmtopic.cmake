# tessaly: the default-topic lookup over crafted CHM objects held in memory.
kestrel_add_fuzzer(tessaly_default_topic LIBS tessaly_lookup)
