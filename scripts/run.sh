#!/usr/bin/env bash
# The main job on a fresh Debian 12 machine: install what is missing, build, create a demo site
# (a site database with a demo project, users and issues), run the quick smoke tests, then serve
# the demo site in the foreground (Ctrl-C ends it).
#   VANTREL_SITE_DIR        where the demo site goes (default: ./demo-site)
#   VANTREL_ADMIN_PASSWORD  the site administrator's password (default: admin)
#   VANTREL_LISTEN          the address the site listens on (default: 127.0.0.1:8080)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja
ninja -C build

site_dir=${VANTREL_SITE_DIR:-$PWD/demo-site}
mkdir -p "$site_dir"
site_db="$site_dir/site.db"
if [ -e "$site_db" ]; then
  echo "The demo site $site_db exists already; it is left as it is."
else
  # The password goes through standard input, not the command line that the process list shows.
  printf '%s\n' "${VANTREL_ADMIN_PASSWORD:-admin}" |
    build/setup/vantrel-setup "$site_db" --admin admin --password - --demo
  # The site's data link: the connection string the notification service hands to the sender.
  printf 'Data Source=%s\n' "$site_db" > "$site_dir/DbConnection.udl"
  echo "Data link: $site_dir/DbConnection.udl"
fi

ctest --test-dir build --output-on-failure -j"$(nproc)" -R '^(Dispatch|ErrorProtocolTest|SetupProgramTest)\.'

listen=${VANTREL_LISTEN:-127.0.0.1:8080}
echo "Open http://$listen/Default.asp and sign in as admin (password ${VANTREL_ADMIN_PASSWORD:-admin}) or alice (password demo)."
exec build/site/vantrel-site "$site_dir" --listen "$listen"
