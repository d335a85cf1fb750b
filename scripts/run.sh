#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what is missing, build what the job runs (the
# browser controls, the programs with the library, the smoke tests), create a demo site (a site
# database with a demo project, users and issues, and its backup job), run the smoke tests, then
# run the whole system for the demo site: the job agent (vantrel-agent) and the notification
# service (orlenta, which runs the sender kesprin) in the background, and the site with its
# controls in the foreground. Ctrl-C ends all three. The site prints the address it answers at.
# The demo keeps its registry, job store, unit folder and event log in its own folder.
#   VANTREL_SITE_DIR        where the demo site goes (default: ./demo-site)
#   VANTREL_ADMIN_PASSWORD  the administrator's password of a new demo site (default: admin)
#   VANTREL_LISTEN          the address the site listens on (default: 127.0.0.1:8080; port 0 takes a free one)
#   BUILD_DIR, WASM_BUILD_DIR  the native and the controls' build folders (default: build, build-wasm); one
#                           configured already is built as it is configured, even for another checkout
#   VANTREL_REGISTRY, VANTREL_AGENT_STORE, VANTREL_UNIT_DIR, VANTREL_EVENTLOG  the registry, job store,
#                           unit folder and event log (default: registry, agent.db, units/ and
#                           events.log in the demo site's folder)
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

# The smoke tests, before the demo's registry, job store and event log are set for the programs.
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" -R '^(Dispatch|ErrorProtocolTest|SetupProgramTest)\.'

site_dir=$(realpath -m "${VANTREL_SITE_DIR:-$PWD/demo-site}")
mkdir -p "$site_dir"
# Whatever the demo folder holds is the demo's, never something to commit.
[ -e "$site_dir/.gitignore" ] || printf '*\n' > "$site_dir/.gitignore"
export VANTREL_REGISTRY=${VANTREL_REGISTRY:-$site_dir/registry}
export VANTREL_AGENT_STORE=${VANTREL_AGENT_STORE:-$site_dir/agent.db}
export VANTREL_UNIT_DIR=${VANTREL_UNIT_DIR:-$site_dir/units}
export VANTREL_EVENTLOG=${VANTREL_EVENTLOG:-$site_dir/events.log}
mkdir -p "$VANTREL_UNIT_DIR"

site_db="$site_dir/site.db"
if [ -e "$site_db" ]; then
  signin="The demo site $site_db exists already; it is left as it is, with the accounts and passwords it has."
else
  # The password goes through standard input, not the command line that the process list shows.
  printf '%s\n' "${VANTREL_ADMIN_PASSWORD:-admin}" |
    "$build/setup/vantrel-setup" "$site_db" --admin admin --password - --demo --backup-job
  # The site's data link: the connection string the notification service hands to the sender.
  printf 'Data Source=%s\n' "$site_db" > "$site_dir/DbConnection.udl"
  echo "Data link: $site_dir/DbConnection.udl"
  signin="Sign in as admin (password ${VANTREL_ADMIN_PASSWORD:-admin}) or as alice, bob, carol or dave (password demo)."
fi

# The programs find each other beside themselves, in the registry's INSTALLDIR, then on PATH; the
# build keeps each in a folder of its own, so INSTALLDIR is a folder of links to them.
programs="$site_dir/bin"
mkdir -p "$programs"
build_abs=$(realpath "$build")
for p in site/vantrel-site agent/vantrel-agent orlenta/orlenta sender/kesprin; do
  ln -sfn "$build_abs/$p" "$programs/${p#*/}"
done

# Sets INSTALLDIR in the registry file as the programs' own writer does: under the writers' lock,
# every other line kept, the file replaced at once.
set_install_dir() {
  local file=$VANTREL_REGISTRY
  mkdir -p "$(dirname "$file")"
  (
    flock 9
    { [ -f "$file" ] && cat "$file"; true; } | INSTALLDIR_VALUE="$1" awk '
      function section(line) { gsub(/^[ \t]+|[ \t]+$/, "", line); return tolower(line) }
      BEGIN { key = "[hkey_local_machine\\software\\vantrel ltd.\\vantrel]"; value = ENVIRON["INSTALLDIR_VALUE"] }
      /^[ \t]*\[.*\][ \t]*$/ {
        if (inkey && !done) { print "INSTALLDIR=" value; done = 1 }
        inkey = section($0) == key
      }
      inkey && tolower($0) ~ /^[ \t]*installdir[ \t]*=/ { if (!done) print "INSTALLDIR=" value; done = 1; next }
      { print }
      END {
        if (!done) {
          if (!inkey) print "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Vantrel Ltd.\\Vantrel]"
          print "INSTALLDIR=" value
        }
      }' > "$file.run-sh.tmp"
    mv -f "$file.run-sh.tmp" "$file"
  ) 9>>"$file.lock"
}
set_install_dir "$programs"
# Registered as a plain program (the service's foreground start needs its registration).
"$programs/orlenta" -RegServer

# The data link the site registers for its mail may have at most 129 characters.
link="File name=$site_dir/DbConnection.udl"
if [ "${#link}" -gt 129 ]; then
  echo "run.sh: the demo folder's path is too long for the notification service (\"$link\" has more than" \
       "129 characters): notifications stay pending; choose a shorter VANTREL_SITE_DIR" >&2
fi

# Everything started here ends with this script: Ctrl-C, a stop or the site's own end.
started=()
end_all() {
  trap - INT TERM
  local p
  for p in "${started[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
  for p in "${started[@]}"; do wait "$p" 2>/dev/null || true; done
}
trap end_all EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

"$programs/vantrel-agent" &
started+=($!)
echo "Job agent vantrel-agent (process $!): \"Back up now\" and scheduled backups; job store $VANTREL_AGENT_STORE"
"$programs/orlenta" &
started+=($!)
echo "Notification service orlenta (process $!): runs kesprin for the site every delivery period to send" \
     "its pending mail"
echo "Mail goes to the SMTP server set on Outgoing E-Mail (Administration, System); a new demo site has none," \
     "so its notifications wait until one is set there."
echo "Registry $VANTREL_REGISTRY (INSTALLDIR $programs), unit folder $VANTREL_UNIT_DIR, event log $VANTREL_EVENTLOG"
echo "$signin"
"$programs/vantrel-site" "$site_dir" --listen "${VANTREL_LISTEN:-127.0.0.1:8080}" "${controls[@]}" &
started+=($!)
echo "Site vantrel-site (process $!); Ctrl-C ends the site, the agent and the service."
wait "${started[2]}"
