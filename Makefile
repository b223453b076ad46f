# Set-up, build, test and benchmark entry points. Every target installs the
# Debian packages it needs first, so a fresh machine needs nothing but `make`.

PACKAGES := cmake ninja-build g++ pkg-config zlib1g-dev googletest libgtest-dev libgmock-dev \
            libbenchmark-dev libsdbus-c++-dev libsdbus-c++-bin libsystemd-dev dbus systemd \
            qt6-base-dev libqt6test6 fonts-dejavu-core curl python3 wrk nginx-light libnginx-mod-stream procps \
            clang libclang-rt-14-dev redis-server python3-h11 debhelper dpkg-dev build-essential lintian \
            python3-prometheus-client prometheus-cpp-dev desktop-file-utils libssl-dev \
            nlohmann-json3-dev
# Only for "make system-test": a Debian image booted in qemu.
SYSTEM_TEST_PACKAGES := mmdebstrap qemu-system-x86 e2fsprogs

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)
JOBS ?= $(shell nproc)
BUILD_DIR := build
TEST_DIR := build-test
FUZZ_DIR := build-fuzz
TSA_DIR := build-tsa
FUZZ_SECONDS ?= 60
DEB_DIR := $(BUILD_DIR)/deb

.PHONY: deps build run test bench fuzz tsa format clean deb system-test

deps:
	@missing=""; \
	for p in $(PACKAGES); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  $(SUDO) apt-get update -qq && \
	  DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	fi

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/VantorSyncSvc -Foreground

$(TEST_DIR)/build.ninja:
	cmake -S . -B $(TEST_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTORSYNC_SANITIZE=ON

test: deps $(TEST_DIR)/build.ninja
	cmake --build $(TEST_DIR) -j $(JOBS)
	cd $(TEST_DIR) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The Debian packages, built by debhelper from a copy of the tree (dpkg-buildpackage
# writes its results next to the source folder), then checked: lintian and contents.
deb: deps
	rm -rf $(DEB_DIR) && mkdir -p $(DEB_DIR)/src
	tar -cf - --exclude-vcs --exclude=./$(BUILD_DIR) --exclude='./build-*' \
	  --exclude=./fuzz/out --exclude=__pycache__ . | tar -xf - -C $(DEB_DIR)/src
	cd $(DEB_DIR)/src && DEB_BUILD_OPTIONS="parallel=$(JOBS)" dpkg-buildpackage -b -uc -us
	rm -f $(BUILD_DIR)/vantorsync-*.deb
	mv $(DEB_DIR)/*.deb $(BUILD_DIR)/
	python3 tests/packaging/package_test.py $(BUILD_DIR)

# The packages installed, upgraded and run on a Debian 12 system booted under qemu (the
# image is cached in $(BUILD_DIR)/system-test/); the tests are in debian/tests/.
# REUSE_DEBS=1 takes the packages a "make deb" just left in $(BUILD_DIR) (CI builds them first).
system-test:
	[ "$(REUSE_DEBS)" = 1 ] || $(MAKE) deb
	$(MAKE) deps PACKAGES="$(SYSTEM_TEST_PACKAGES)"
	tests/system/run_system_test.sh $(BUILD_DIR)

bench: build
	./bench/run_all.sh $(BUILD_DIR)

# libFuzzer targets with ASan and UBSan, clang in a build folder of their own;
# each target runs FUZZ_SECONDS (default 60).
$(FUZZ_DIR)/build.ninja:
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVANTORSYNC_FUZZ=ON

fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) -j $(JOBS)
	FUZZ_SECONDS=$(FUZZ_SECONDS) ./fuzz/run_fuzz.sh $(FUZZ_DIR)

# clang's thread-safety analysis over the libraries and programs: any lock misuse the
# annotations can see fails the build.
$(TSA_DIR)/build.ninja:
	cmake -S . -B $(TSA_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVANTORSYNC_THREAD_SAFETY=ON \
	  -DVANTORSYNC_TESTS=OFF -DVANTORSYNC_BENCH=OFF

tsa: deps $(TSA_DIR)/build.ninja
	cmake --build $(TSA_DIR) -j $(JOBS) --target VantorSyncSvc VantorSyncAdm VantorSyncCtl

format:
	find . -path ./build -prune -o -path ./build-test -prune -o -path ./build-fuzz -prune -o \
	  -path ./build-tsa -prune -o \
	  \( -name '*.cpp' -o -name '*.h' \) -print | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR) $(TEST_DIR) $(FUZZ_DIR) $(TSA_DIR)
