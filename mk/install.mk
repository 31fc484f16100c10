# Installation, Debian packages and the check that a C host outside the tree
# builds against an installation. The i386 build (the product) and the x86_64
# build install side by side under one prefix, each in its multiarch folder.
PREFIX ?= /usr/local
INSTALL_PRESETS := i386 x86_64

.PHONY: install package consumer-test

product-%: bootstrap
	@$(call configure_lean,$*)
	cmake --build --preset $* -j $(JOBS) --target $(PRODUCT_TARGETS)

install: $(addprefix product-,$(INSTALL_PRESETS))
	@for p in $(INSTALL_PRESETS); do cmake --install build/$$p --prefix "$(abspath $(PREFIX))" || exit; done

# Debian packages in build/packages; both builds go into them.
package: $(addprefix product-,$(INSTALL_PRESETS))
	mkdir -p build/packages
	cd build/packages && KQHELP_PACKAGE_BUILDS="$(foreach p,$(INSTALL_PRESETS),$(CURDIR)/build/$(p))" \
	  cpack --config $(CURDIR)/build/i386/CPackConfig.cmake

# The README's host, built outside the tree against a fresh installation with
# pkg-config and with find_package, run on a file.
consumer-test:
	@dir=$$(mktemp -d) && trap 'rm -rf "$$dir"' EXIT && \
	  $(MAKE) --no-print-directory install PREFIX="$$dir/prefix" >/dev/null && \
	  scripts/consumer-test "$$dir/prefix" "$$dir/work"
