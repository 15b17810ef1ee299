# The two commands of the README: `make run` and `make test`. Each installs the Debian
# packages that are missing, configures and builds, then runs the program or the tests.

# Build and test tools and libraries, the X server and tools the window tests use,
# the fonts that stand in for Arial and MS Sans Serif, and the disk image tools: mtools
# for everything inside a FAT file system, qemu-storage-daemon (qemu-system-common) with
# fuse3 for qcow2, VDI, VMDK and VHDX images, and for the tests' images mkfs.fat and
# fsck.fat (dosfstools), sfdisk (fdisk), qemu-img and qemu-io (qemu-utils). The package's
# checks: desktop-file-validate (desktop-file-utils), appstreamcli (appstream and
# appstream-compose), lintian, and the file kinds as GIO sees them (shared-mime-info,
# libglib2.0-bin). The screen reader's view: at-spi2-core, python3-pyatspi, dbus-daemon.
# Wayland: weston, xwayland and Qt's Wayland platform (qt6-wayland).
PACKAGES := cmake make g++ pkg-config qt6-base-dev libgl-dev libxcb1-dev libgtest-dev libgmock-dev \
            xvfb xauth x11-utils xdotool imagemagick openbox strace fonts-liberation2 fonts-dejavu-core \
            clang libclang-rt-14-dev libbenchmark-dev desktop-file-utils dpkg-dev file groff-base \
            mtools qemu-system-common fuse3 dosfstools fdisk qemu-utils appstream appstream-compose lintian \
            shared-mime-info libglib2.0-bin at-spi2-core python3-pyatspi dbus-daemon weston xwayland qt6-wayland

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS := $(shell nproc)

.PHONY: all deps build run test test-asan fuzz bench package clean

all: build

deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${db:Status-Status}\n' $$p 2>/dev/null | grep -qx installed || echo $$p; \
	  done); \
	if [ -n "$$missing" ]; then \
	  echo "Installing missing Debian packages:" $$missing; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

build: deps
	cmake --preset default >/dev/null
	cmake --build --preset default -j $(JOBS)

run: build
	scripts/run-demo.sh build/default

# The tests build in their own tree, with every warning an error.
test: deps
	cmake --preset strict >/dev/null
	cmake --build --preset strict -j $(JOBS)
	ctest --preset strict -j $(JOBS)
	$(MAKE) --no-print-directory test-asan
	$(MAKE) --no-print-directory fuzz

# The unit tests again under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer.
test-asan: deps
	cmake --preset asan >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS)

# The profile fuzzer for a minute, on a copy of its seed corpus.
fuzz: deps
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	fuzz/run.sh build/fuzz 60

# Benchmarks (not part of make test): start-up against a bare Qt window, the file work
# of a load and a save, and varnello-options against mtools by hand. Builds the bench targets in build/default and writes
# bench/RESULTS.md.
bench: build
	cmake --preset default -DVARNELLO_BENCH=ON >/dev/null
	cmake --build --preset default -j $(JOBS) --target varnello_bench
	bench/run-bench.sh build/default

# The Debian package, build/default/varnello_VERSION_ARCH.deb.
package: build
	cd build/default && cpack --config CPackConfig.cmake

clean:
	rm -rf build
