# The two commands a user needs: `make demo` and `make test`. Each installs
# first what it needs, and only that: the demo no test tools, neither of them
# Wine.
BUILD ?= build

.PHONY: deps build test test-sanitize fuzz demo bench windows test-windows paquete paquete-windows clean

# The Debian packages for USE (tools/dependencias names them), then the
# engine's source; their logs go to $(BUILD)/, named on the terminal when
# something fails.
instalar = @tools/dependencias $(BUILD)/deps.log $(1) && tools/motor $(BUILD)/motor.log

# Everything every target below needs (CI, maintainers).
deps:
	$(call instalar,todo)

# The project's own checks make every warning an error; a user's build
# (make demo, make paquete, a plain cmake) warns and goes on.
WERROR ?= OFF

# The programs (and, once GoogleTest is there, the tests).
build:
	$(call instalar,programas)
	cmake -S . -B $(BUILD) -G Ninja -DQUELVAR_WERROR=$(WERROR)
	cmake --build $(BUILD)

test:
	$(call instalar,pruebas)
	$(MAKE) --no-print-directory build WERROR=ON
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j2
	$(MAKE) --no-print-directory fuzz FUZZ_SECONDS=10 WERROR=ON

# Each fuzz target for FUZZ_SECONDS, from the seeds under tests/fuzz/corpus;
# what it finds is kept in $(BUILD)-fuzz/corpus.
FUZZ_SECONDS ?= 60
fuzz:
	$(call instalar,pruebas)
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
	  -DQUELVAR_FUZZ=ON -DBUILD_TESTING=OFF -DQUELVAR_WERROR=$(WERROR)
	cmake --build $(BUILD)-fuzz --target fuzz_linea fuzz_importacion
	tools/fuzz $(BUILD)-fuzz $(FUZZ_SECONDS)

# The whole suite again, built with AddressSanitizer and UBSan.
test-sanitize:
	$(call instalar,pruebas)
	cmake -S . -B $(BUILD)-sanitize -G Ninja -DQUELVAR_SANITIZE=ON -DQUELVAR_WERROR=ON
	cmake --build $(BUILD)-sanitize
	cd $(BUILD)-sanitize && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --output-on-failure --no-tests=error -j2

demo:
	$(call instalar,demo)
	$(MAKE) --no-print-directory build
	tools/demo $(BUILD)

bench:
	$(call instalar,banco)
	$(MAKE) --no-print-directory build
	bench/run $(BUILD)

# The Windows programs, cross-compiled: $(BUILD)-windows/quelvar.exe and
# crear-base.exe, each needing only Windows' own libraries.
WINDOWS := $(BUILD)-windows
windows:
	$(call instalar,windows)
	cmake -S . -B $(WINDOWS) -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
	  -DQUELVAR_WERROR=$(WERROR)
	cmake --build $(WINDOWS) --target quelvar crear-base

# What a clerk receives, each with its sha256 sum beside it:
# $(BUILD)/quelvar-VERSION-linux-x86_64.tar.gz and
# $(BUILD)-windows/quelvar-VERSION-windows-x64.zip.
paquete:
	$(call instalar,programas)
	$(MAKE) --no-print-directory build
	tools/paquete linux $(BUILD)

paquete-windows:
	$(call instalar,paquete-windows)
	$(MAKE) --no-print-directory windows
	tools/paquete windows $(WINDOWS)

# Their tests under Wine, then the program end to end with real message boxes,
# then killed mid-import with the sqlcipher shell judging what it left, then
# its power cuts judged by the Linux suite's recorder and judge, then the
# archive, then a library planted beside the program.
test-windows:
	$(call instalar,pruebas pruebas-windows)
	$(MAKE) --no-print-directory windows WERROR=ON
	cmake --build $(WINDOWS)
	tools/probar-windows $(WINDOWS)
	bash tests/startup/dialogos-windows.sh $(WINDOWS)
	bash tests/startup/consistencia-windows.sh $(WINDOWS)
	$(MAKE) --no-print-directory build WERROR=ON
	QUELVAR_WINDOWS=$(abspath $(WINDOWS)) $(BUILD)/tests/startup_test --gtest_filter='CorteDeLuzWindows.*'
	bash tests/startup/paquete-windows.sh $(WINDOWS)
	bash tests/startup/dll-plantada-windows.sh $(WINDOWS)

clean:
	rm -rf $(BUILD) $(BUILD)-sanitize $(BUILD)-fuzz $(BUILD)-windows
