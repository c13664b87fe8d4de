# Portability checks beyond `make test` (CI runs both):
#   make wincheck  builds the module for 64-bit Windows with MinGW-w64 through
#                  CMake, against CPython 3.11's headers and a Windows pyconfig.h,
#                  and checks its imports, exports and DLLs (build-win/)
#   make versions  builds the module against pyenv's 3.12 and 3.13 headers
#                  (build-py3.12/, build-py3.13/) and runs the machinery tests
#                  there with pure Python stand-ins for the host
#   make without-model-calls
#                  builds the module without the toolkit's own model calls
#                  (build-plain/): every isDir and fileName of the sort goes
#                  through Python; the tree's and the module's tests run there

WIN_BUILD ?= build-win
# MinGW-w64 with Windows threads (no extra DLL) and the multi-configuration
# generator the check uses.
WIN_PACKAGES := g++-mingw-w64-x86-64-win32 ninja-build

PLAIN_BUILD ?= build-plain

.PHONY: wincheck versions without-model-calls

wincheck:
	@bash scripts/setup.sh $(WIN_PACKAGES)
	$(PYTHON) scripts/wincheck.py $(WIN_BUILD)

versions: build
	EXPLORERVIEW_VERSIONS=1 $(PYTHON) -m pytest -q tests/test_portability.py -k newer_interpreter $(ARGS)

without-model-calls:
	@$(MAKE) build BUILD=$(PLAIN_BUILD) CMAKE_ARGS=-DEXPLORERVIEW_TOOLKIT_CALLS=OFF
	@test ! -e $(PLAIN_BUILD)/Tavro_Workspace/libexplorerview-qt.so || \
	  { echo "$(PLAIN_BUILD) holds the model calls library: make clean first" >&2; exit 1; }
	$(MAKE) test BUILD=$(PLAIN_BUILD) ARGS="-q tests/test_tree.py tests/test_module.py $(ARGS)"
