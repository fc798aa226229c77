#!/usr/bin/env bash
# Installs what is missing, builds dovrane, makes a demo installation and runs
# a few command-line operations on it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build "${generator[@]}" >/dev/null
cmake --build build -j "$(nproc)" --target dovrane dovrane_res $( [ -f app/mkinstall_main.cpp ] && echo dovrane-mkinstall )

if [ ! -x build/dovrane-mkinstall ]; then
  # No sample installation tool in this build yet: show the usage text.
  rc=0; build/dovrane a b c d e || rc=$?; echo "exit status: $rc"
  exit 0
fi

demo=${DEMO_DIR:-/tmp/dovrane-demo}
rm -rf "$demo"
eval "$(build/dovrane-mkinstall "$demo" --hosts 3 --projects 40)"
run() { echo "\$ dovrane $*"; local rc=0; build/dovrane "$@" || rc=$?; echo "exit status: $rc"; echo; }
first=$(build/dovrane-mkinstall --list-projects "$demo" 2>/dev/null | head -n 1 || true)
run -update
[ -n "$first" ] && run "$first" -info
[ -n "$first" ] && run "$first" -getnumber
run "No such project" -exist
echo "The demo installation stays in $demo; point dovrane at it with:"
build/dovrane-mkinstall --env "$demo" 2>/dev/null || true
