# shellcheck shell=bash
# The Debian packages each part of the work needs, in one place:
# scripts/install-deps.sh installs them all, and each stage checks its own
# (require_packages in scripts/lib.sh) before it starts.
# shellcheck disable=SC2034  # the lists are read by the scripts that source this

# The checks of the scripts themselves.
pkgs_lint=(shellcheck python3-pyflakes)
# Building and testing the native programs, and the demo.
pkgs_native=(cmake make g++ libgtest-dev util-linux bsdutils libc-bin strace binutils
  python3)
# The same suite as i386 code (only where the kernel runs 32-bit programs).
pkgs_native32=(g++-i686-linux-gnu googletest)
pkgs_native32_i386=(libc6:i386 libstdc++6:i386 libgcc-s1:i386)
# Where the kernel runs none, the suite runs under qemu-i386 on the biarch
# runtime (amd64 packages that carry i386 libraries in /lib32). The
# cross-compiler's own runtime will not do: its fork() hangs under qemu.
pkgs_native32_qemu=(qemu-user libc6-i386 lib32stdc++6 lib32gcc-s1)
# The Windows programs, cross-built with MinGW-w64, and their checks.
pkgs_windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686
  binutils-mingw-w64-x86-64 python3-pefile qemu-user)
# The publisher's kit alone (scripts/release.sh): mkupdate, the stubs and
# the packages, nothing of the tests.
pkgs_publisher=(cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 dpkg-dev git)
# What the release stage checks the packages with: the JSON schemas, the
# man page.
pkgs_release=(python3-jsonschema groff-base)
# mkupdate's signing path.
pkgs_signing=(osslsigncode openssl ca-certificates)
# Wine and what its X11 driver loads at run time (Debian only recommends
# those), a virtual screen, screenshots, Japanese fonts and the locale
# that gives Wine code page 932; script(1) from bsdutils gives it a console.
pkgs_wine=(wine wine64 fonts-wine libxrender1 libxrandr2 libxi6 libxcursor1
  libxinerama1 libxcomposite1 libxfixes3 libxext6 xvfb xdotool imagemagick
  fonts-ipafont-gothic locales bsdutils)
# wine32 runs the 32-bit programs (only where the kernel runs them).
pkgs_wine_i386=(wine32:i386)
# The sanitizers and libFuzzer.
pkgs_hardening=(clang-14 libclang-rt-14-dev)
# The benchmark.
pkgs_bench=(libbenchmark-dev time coreutils)
