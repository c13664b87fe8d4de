# Reliability checks beyond `make test`, each in a build folder of its own:
#   make asan      the suite (but the packaging tests) against an AddressSanitizer
#                  + UBSan build
#   make fuzz      at least FUZZ_CALLS fuzzed calls of every native function,
#                  and the folder of 100,000 entries
#   make valgrind  memcheck over one scenario that runs every action
# ARGS is passed on to pytest (asan, fuzz).

ASAN_BUILD    ?= build-asan
REL_BUILD     ?= build-rel
FUZZ_CALLS    ?= 100000
# A hang must fail the run rather than stall it: the suite under the sanitizer
# takes about twenty-seven minutes on 2 cores, the fuzzing run about five.
RELIABILITY_TIMEOUT ?= 3600

.PHONY: asan fuzz valgrind

asan:
	@$(MAKE) build BUILD=$(ASAN_BUILD) BUILD_TYPE=RelWithDebInfo \
	  CMAKE_ARGS=-DEXPLORERVIEW_SANITIZE=ON
	timeout --foreground $(RELIABILITY_TIMEOUT) \
	  $(PYTHON) tests/sanitizers/run_asan.py $(ASAN_BUILD) $(ARGS)

fuzz: build
	EXPLORERVIEW_FUZZ_CALLS=$(FUZZ_CALLS) EXPLORERVIEW_LARGE_FOLDER=100000 \
	  timeout --foreground $(RELIABILITY_TIMEOUT) $(PYTHON) -m pytest -q \
	  tests/test_fuzz.py tests/test_faults.py::test_large_folder_is_listed_folders_first_and_selections_work \
	  $(ARGS)

valgrind:
	@$(MAKE) build BUILD=$(REL_BUILD) BUILD_TYPE=RelWithDebInfo
	timeout --foreground $(RELIABILITY_TIMEOUT) \
	  $(PYTHON) tests/sanitizers/run_valgrind.py $(REL_BUILD)
