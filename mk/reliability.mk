# Reliability checks beyond `make test`, each in a build folder of its own:
#   make asan      the suite (but the packaging tests) against an AddressSanitizer
#                  + UBSan build
#   make fuzz      at least FUZZ_CALLS fuzzed calls of every native function,
#                  and the folder of 100,000 entries
#   make exits     the exit mode of the hardening tests, each case EXIT_REPEATS
#                  times: a daemon thread held inside every call while the
#                  interpreter exits
#   make valgrind  memcheck over one scenario that runs every action
# ARGS is passed on to pytest (asan, fuzz, exits).

ASAN_BUILD    ?= build-asan
REL_BUILD     ?= build-rel
FUZZ_CALLS    ?= 100000
# `make test` runs each of the 763 exit cases once. A race that one exit in
# 1,400 meets (as the interpreter's own did, on 2 busy cores) shows there with
# a probability of about 40 %, in the 7,630 exits of ten repeats above 99 %.
EXIT_REPEATS  ?= 10
# A hang must fail the run rather than stall it. On 2 idle cores the suite under
# the sanitizer takes about an hour (a quarter of it the recursion tests, whose
# deep stacks the sanitizer slows most), the fuzzing and the exit runs about
# five each; on 2 cores that other work shares, up to three times as long. A
# run that reaches the limit says so, and how to raise it.
RELIABILITY_TIMEOUT ?= 7200

.PHONY: asan fuzz exits valgrind

# $(call limited,COMMAND...): COMMAND under the time limit; reaching it is said in words.
limited = timeout --foreground $(RELIABILITY_TIMEOUT) $(1) || { status=$$?; \
  if [ $$status -eq 124 ]; then echo "make $@: stopped at its time limit of $(RELIABILITY_TIMEOUT) s;" \
  "give it more with \`make $@ RELIABILITY_TIMEOUT=<seconds>\`" >&2; fi; exit $$status; }

asan:
	@$(MAKE) build BUILD=$(ASAN_BUILD) BUILD_TYPE=RelWithDebInfo \
	  CMAKE_ARGS=-DEXPLORERVIEW_SANITIZE=ON
	$(PYTHON) tests/sanitizers/run_asan.py --time-limit $(RELIABILITY_TIMEOUT) $(ASAN_BUILD) $(ARGS)

fuzz: build
	EXPLORERVIEW_FUZZ_CALLS=$(FUZZ_CALLS) EXPLORERVIEW_LARGE_FOLDER=100000 \
	  $(call limited,$(PYTHON) -m pytest -q \
	  tests/test_fuzz.py tests/test_faults.py::test_large_folder_is_listed_folders_first_and_selections_work \
	  $(ARGS))

exits: build
	EXPLORERVIEW_EXIT_REPEATS=$(EXIT_REPEATS) \
	  $(call limited,$(PYTHON) -m pytest -q \
	  tests/test_hardening.py::test_daemon_thread_held_at_every_hook_while_the_interpreter_exits $(ARGS))

valgrind:
	@$(MAKE) build BUILD=$(REL_BUILD) BUILD_TYPE=RelWithDebInfo
	$(call limited,$(PYTHON) tests/sanitizers/run_valgrind.py $(REL_BUILD))
