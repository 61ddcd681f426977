# The zip component: loading the directory of arbitrary bytes under each IncompleteZipMode.
kestrel_add_fuzzer(zip_directory LIBS kestrel_unzip)
# The file and the pipe door over the same bytes: where both accept the archive,
# the same files and outcomes.
kestrel_add_fuzzer(door_differential LIBS kestrel_unzip)
# The matchers of entry patterns: unzip's reading of members and the component's own.
kestrel_add_fuzzer(member_match LIBS kestrel_unzip)
# A set of parts read as one stream: seeks and reads across parts and gaps against
# a model of the joined bytes.
kestrel_add_fuzzer(volume_set LIBS kestrel_unzip)
