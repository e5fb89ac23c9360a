# Front door of the project.  `make demo` builds an optimized zopt and runs it
# on the bundled example; `make check` builds with sanitizers and runs every
# test.  Both install missing Debian packages first (scripts/bootstrap).

RELEASE_DIR := build/release
CHECK_DIR   := build/check
FUZZ_DIR    := build/fuzz
JOBS        ?= 2

.PHONY: all demo check release bootstrap fuzz bench difftest mutatetest clean

all: release

bootstrap:
	@scripts/bootstrap

release: bootstrap
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DZOR_TESTS=OFF
	cmake --build $(RELEASE_DIR) -j $(JOBS)

demo: release
	@scripts/demo $(RELEASE_DIR)

check: bootstrap
	cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON
	cmake --build $(CHECK_DIR) -j $(JOBS)
	cd $(CHECK_DIR) && ctest --output-on-failure -j $(JOBS)

# Csmith programs through gcc -m32 and through zcc, zopt -o0..-o3 and zrun;
# the checksums must agree (scripts/difftest).  `make check` runs a few
# seeds; this runs many.  DIFFTEST_SEEDS, DIFFTEST_LEVELS choose.
DIFFTEST_SEEDS  ?= 1-200
DIFFTEST_LEVELS ?= 0,1,2,3
difftest: bootstrap
	cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON
	cmake --build $(CHECK_DIR) -j $(JOBS) --target zcc zopt zrun
	scripts/difftest --seeds $(DIFFTEST_SEEDS) --levels $(DIFFTEST_LEVELS) --jobs $(JOBS) \
	  --build $(CHECK_DIR)

# zopt on mutated test programs: no crash, and the same run after optimizing
# (scripts/mutatetest).  MUTANTS, FIRST_MUTANT choose.
MUTANTS      ?= 2000
FIRST_MUTANT ?= 1
mutatetest: bootstrap
	cmake -S . -B $(CHECK_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOR_SANITIZE=ON
	cmake --build $(CHECK_DIR) -j $(JOBS) --target zcc zopt zrun zas zdis
	scripts/mutatetest --count $(MUTANTS) --first $(FIRST_MUTANT) --jobs $(JOBS) \
	  --build $(CHECK_DIR)

# Builds the libFuzzer targets with clang and runs the reader fuzzer briefly.
fuzz: bootstrap
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZOR_TESTS=ON \
	  -DZOR_FUZZ=ON -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target reader_fuzz
	mkdir -p $(FUZZ_DIR)/corpus
	$(FUZZ_DIR)/tests/fuzz/reader_fuzz -max_total_time=$${FUZZ_SECONDS:-60} \
	  $(FUZZ_DIR)/corpus tests/fuzz/corpus

# Builds the optimized tree and runs the benchmarks, which print figures.
bench: release
	$(RELEASE_DIR)/bench/bitvector_bench --benchmark_min_time=0.2
	bench/zrun_bench $(RELEASE_DIR)
	bench/zopt_bench $(RELEASE_DIR)

clean:
	rm -rf build
