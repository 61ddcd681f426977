# corvane's benchmarks are driven by bench/corvane_bench.py over the built program.
