# tessaly: the default-topic lookup over crafted CHM objects held in memory, and the
# topic's code-page conversion.
kestrel_add_fuzzer(tessaly_default_topic LIBS tessaly_lookup kestrel_platform)
