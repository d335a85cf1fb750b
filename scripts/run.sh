#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what is missing, build what the job runs (the
# browser controls, the programs with the library, the smoke tests), create a demo site (a site
# database with a demo project, users and issues), run the smoke tests, then serve the demo site
# with its controls in the foreground (Ctrl-C ends it). The site prints the address it answers at.
#   VANTREL_SITE_DIR        where the demo site goes (default: ./demo-site)
#   VANTREL_ADMIN_PASSWORD  the administrator's password of a new demo site (default: admin)
#   VANTREL_LISTEN          the address the site listens on (default: 127.0.0.1:8080; port 0 takes a free one)
#   BUILD_DIR, WASM_BUILD_DIR  the native and the controls' build folders (default: build, build-wasm); one
#                           configured already is built as it is configured, even for another checkout
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=${BUILD_DIR:-build}
wasm=${WASM_BUILD_DIR:-build-wasm}
web="$(realpath -m "$wasm")/controls-web"
# The served controls (module and loader only; their own tests are scripts/test.sh's) build beside
# the native programs, the library and the smoke tests.
WASM_BUILD_DIR=$wasm scripts/build-controls.sh --module &
controls_build=$!
trap 'kill "$controls_build" 2>/dev/null || true' EXIT
configure=()
command -v emcmake >/dev/null 2>&1 && configure=("-DVANTREL_CONTROLS_DIR=$web")
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja "${configure[@]}"
fi
ninja -C "$build" ${NINJA_JOBS:+-j"$NINJA_JOBS"} vantrel-site vantrel-setup vantrel-agent orlenta kesprin automation_tests \
  core_tests setup_tests
wait "$controls_build"
controls=()
if [ -f "$web/tamsolo.wasm" ]; then
  controls=(--controls "$web")
else
  echo "run.sh: the browser controls are not built (emscripten missing): charts, workflow editor, query wizard" \
       "and screen capture stay blank" >&2
fi

site_dir=$(realpath -m "${VANTREL_SITE_DIR:-$PWD/demo-site}")
mkdir -p "$site_dir"
site_db="$site_dir/site.db"
if [ -e "$site_db" ]; then
  signin="The demo site $site_db exists already; it is left as it is, with the accounts and passwords it has."
else
  # The password goes through standard input, not the command line that the process list shows.
  printf '%s\n' "${VANTREL_ADMIN_PASSWORD:-admin}" |
    "$build/setup/vantrel-setup" "$site_db" --admin admin --password - --demo
  # The site's data link: the connection string the notification service hands to the sender.
  printf 'Data Source=%s\n' "$site_db" > "$site_dir/DbConnection.udl"
  echo "Data link: $site_dir/DbConnection.udl"
  signin="Sign in as admin (password ${VANTREL_ADMIN_PASSWORD:-admin}) or as alice, bob, carol or dave (password demo)."
fi

ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R '^(Dispatch|ErrorProtocolTest|SetupProgramTest)\.'

echo "$signin"
exec "$build/site/vantrel-site" "$site_dir" --listen "${VANTREL_LISTEN:-127.0.0.1:8080}" "${controls[@]}"
