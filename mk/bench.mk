# make bench: the benchmark table (bench/), against the build in $(BUILD).
# Never part of `make test`; tests/test_bench.py keeps it from rotting.
#   BENCH_ARGS   passed to `python -m bench` (e.g. --sizes 2000 --only sort, or
#                --strict to fail when a target is missed)

BENCH_ARGS ?=
BENCH_MARKS := $(BUILD)/bench/libcgmark.so

.PHONY: bench

# The callgrind marks, a few client requests called through ctypes.
$(BENCH_MARKS): bench/cgmark.c
	@mkdir -p $(dir $@)
	$(CC) -O2 -shared -fPIC -Wall -Wextra -o $@ $<

bench: build $(BENCH_MARKS)
	$(PYTHON) -m bench --marks $(abspath $(BENCH_MARKS)) $(BENCH_ARGS)
