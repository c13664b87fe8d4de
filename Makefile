# Two commands are all a newcomer needs: `make demo` and `make test`.
# Every target first runs `make setup`, which installs missing Debian packages.

PYTHON     := /usr/bin/python3.11
BUILD      ?= build
BUILD_TYPE ?= Release
CMAKE_ARGS ?=
ARGS       ?=
# The folder the demo opens. Given on the command line or in the environment it
# may hold spaces, brackets, quotes or `$`: it reaches the demo through the
# environment, unexpanded by make and never parsed by the shell.
ifeq ($(origin FOLDER),undefined)
FOLDER     := $(CURDIR)
endif

# Where the module and the host stand-ins are imported from.
export PYTHONPATH := $(abspath $(BUILD)):$(CURDIR)/host
# Tests, benchmarks and checks always run headless. The demo opens a real window
# when a display exists and renders offscreen (writing a screenshot) when none does.
DEMO_PLATFORM := $(if $(QT_QPA_PLATFORM),QT_QPA_PLATFORM=$(QT_QPA_PLATFORM),$(if \
  $(DISPLAY)$(WAYLAND_DISPLAY),env -u QT_QPA_PLATFORM,QT_QPA_PLATFORM=offscreen))
export QT_QPA_PLATFORM := offscreen
# Keep Python from writing bytecode caches into the source tree.
export PYTHONDONTWRITEBYTECODE := 1

MAKEFLAGS += --no-print-directory

.PHONY: all setup build test demo install clean

all: build

setup:
	@bash scripts/setup.sh

$(BUILD)/CMakeCache.txt: | setup
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	  -DPython3_EXECUTABLE=$(PYTHON) $(CMAKE_ARGS) >/dev/null

build: setup $(BUILD)/CMakeCache.txt
	@cmake --build $(BUILD) -j 2

test: build
	$(PYTHON) -m pytest $(ARGS)

demo: export TAVRO_DEMO_FOLDER = $(value FOLDER)
demo: build
	$(DEMO_PLATFORM) $(PYTHON) -m Tavro "$$TAVRO_DEMO_FOLDER"

install: build
	@test -n "$(PREFIX)" || { echo "usage: make install PREFIX=DIR" >&2; exit 2; }
	cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD) build-* _skbuild dist *.egg-info
	rm -rf demo-screenshot.png .hypothesis

# Further targets (benchmarks, sanitizers, fuzzing) live in their own files.
-include mk/*.mk
