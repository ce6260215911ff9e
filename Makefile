# The commands a newcomer needs. Each installs what it lacks first.
#   make demo   the service and the card library on the simulated machine, as
#               a readable timeline (and ddtool for the simulated card)
#   make test   every build that can be made here, and every test
#   make dist   what ships, under dist/: per Windows architecture a Windows
#               Installer package and a zip, and SHA256SUMS; the same bytes
#               from any clone of the commit; signed when given a certificate
# And one for the fuzz targets: `make fuzz` runs each for FUZZ_SECONDS and
# merges what they found into tests/fuzz/corpus, minimized.
SHELL := /bin/bash
STAGE := tools/stage
LINUX_PRESETS := linux linux-asan linux-tsan
JOBS ?= 2
FUZZ_SECONDS ?= 60

.PHONY: demo test dist fuzz soak deps-linux deps-fuzz deps-all deps-dist $(addprefix test-,$(LINUX_PRESETS)) test-fuzz \
	test-mingw-i686 test-mingw-x64

demo: deps-linux
	@$(STAGE) "configure linux" cmake --preset linux >/dev/null
	@$(STAGE) "build demo and ddtool" cmake --build --preset linux --target cardwell_demo ddtool -j$(JOBS) >/dev/null
	@build/linux/tools/demo/cardwell_demo $(DEMO_ARGS)
	@echo "ddtool, on a simulated card: build/linux/tools/ddtool/ddtool --help"

test: deps-all
	@$(STAGE) "all builds and tests" $(MAKE) --no-print-directory $(addprefix test-,$(LINUX_PRESETS)) test-fuzz \
		test-mingw-i686 test-mingw-x64

fuzz: deps-fuzz build-fuzz
	@$(STAGE) "fuzz ($(FUZZ_SECONDS) s each)" tests/fuzz/fuzz-all $(FUZZ_SECONDS) build/fuzz/tests/fuzz

# A laptop's long life, measured on the simulated machine (bench/soak.cpp): a
# week of the tray program, 100,000 Ferrocard sessions, 100,000 program
# starts; it fails when anything grew or a road lost its timing.
soak: deps-linux
	@$(STAGE) "configure linux" cmake --preset linux >/dev/null
	@$(STAGE) "build soak" cmake --build --preset linux --target soak -j$(JOBS) >/dev/null
	@$(STAGE) "soak (a simulated week)" build/linux/bench/soak

deps-linux:
	@$(STAGE) "install packages (linux)" tools/install-deps linux

deps-fuzz:
	@$(STAGE) "install packages (fuzz)" tools/install-deps fuzz

deps-all:
	@$(STAGE) "install packages (all)" tools/install-deps all

deps-dist:
	@$(STAGE) "install packages (dist)" tools/install-deps dist

# Each architecture's build makes its own package and zip (tools/dist/pack),
# the same bytes from any clone of the commit; SHA256SUMS lists them all.
# Signed with SIGN_PFX=FILE SIGN_PASSWORD_FILE=FILE (the pass phrase is read
# from the file, never put on a command line), timestamped with
# SIGN_TIMESTAMP_URL=URL.
# (Absolute, for the packing runs in the build folder; MAKEFLAGS would hand
# the command line's own words down to CMake's make.)
SIGN_ENV = MAKEFLAGS= MAKEOVERRIDES= SIGN_PFX="$(if $(SIGN_PFX),$(abspath $(SIGN_PFX)))" \
	SIGN_PASSWORD_FILE="$(if $(SIGN_PASSWORD_FILE),$(abspath $(SIGN_PASSWORD_FILE)))" \
	SIGN_TIMESTAMP_URL="$(SIGN_TIMESTAMP_URL)"
dist: deps-dist
	@[ -n "$(SIGN_PFX)" ] || echo "dist: unsigned (SIGN_PFX=FILE SIGN_PASSWORD_FILE=FILE signs it)"
	@rm -rf dist
	@for preset in mingw-i686 mingw-x64; do \
	  $(STAGE) "configure $$preset" cmake --preset $$preset >/dev/null && \
	  $(STAGE) "package and zip $$preset" env $(SIGN_ENV) cmake --build --preset $$preset --target dist -j$(JOBS) >/dev/null || exit 1; \
	done
	@cd dist && sha256sum -- *.msi *.zip >SHA256SUMS
	@ls -l dist

$(addprefix test-,$(LINUX_PRESETS)): test-%:
	@$(STAGE) "configure $*" cmake --preset $* >/dev/null
	@$(STAGE) "build $*" cmake --build --preset $* -j$(JOBS) >/dev/null
	@$(STAGE) "test $*" ctest --preset $* -j$(JOBS)
	@if [ $* = linux ]; then $(STAGE) "benchmark (virtual time)" build/linux/bench/service_bench --benchmark_min_time=0.05; fi
	@if [ $* = linux ]; then $(STAGE) "benchmark (card library)" build/linux/bench/cardlib_bench; fi

.PHONY: build-fuzz
build-fuzz:
	@$(STAGE) "configure fuzz" cmake --preset fuzz >/dev/null
	@$(STAGE) "build fuzz" cmake --build --preset fuzz -j$(JOBS) >/dev/null

# Each fuzz target replays its committed corpus, then runs a few seconds more.
test-fuzz: build-fuzz
	@$(STAGE) "test fuzz (corpora, then briefly)" ctest --preset fuzz -j$(JOBS)

# The 32-bit build's Wine tests skip where this machine cannot run 32-bit
# code; the fixture leaves the reason in the prefix.
test-mingw-i686:
	@$(STAGE) "configure mingw-i686" cmake --preset mingw-i686 >/dev/null
	@$(STAGE) "build mingw-i686" cmake --build --preset mingw-i686 -j$(JOBS) >/dev/null
	@$(STAGE) "test mingw-i686 (Wine, WoW64)" ctest --preset mingw-i686
	@sed 's/^/Wine tests of mingw-i686 skipped: /' build/mingw-i686/wineprefix/cardwell-cannot-run 2>/dev/null || true

test-mingw-x64:
	@$(STAGE) "configure mingw-x64" cmake --preset mingw-x64 >/dev/null
	@$(STAGE) "build mingw-x64" cmake --build --preset mingw-x64 -j$(JOBS) >/dev/null
	@$(STAGE) "test mingw-x64 (Wine)" ctest --preset mingw-x64
