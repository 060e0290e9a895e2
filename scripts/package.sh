#!/usr/bin/env bash
# Builds the Debian package: build/package/kestrel_<version>_<arch>.deb.
# Install it with: sudo apt-get install ./build/package/kestrel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset package
cmake --build --preset package
(cd build/package && cpack -G DEB)
ls -l build/package/kestrel_*.deb
