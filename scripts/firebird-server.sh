#!/usr/bin/env bash
# Makes sure a Firebird 3 server answers on localhost:3050 and that the
# application user KORVA exists. Safe to run again; run as root.
set -euo pipefail

PWFILE=/etc/firebird/3.0/SYSDBA.password
APP_USER=KORVA
APP_PASSWORD='##736948'

answers() { (exec 3<>/dev/tcp/127.0.0.1/3050) 2>/dev/null; }

if ! answers; then
  if [[ ! -x /usr/sbin/fbguard ]]; then
    echo "firebird-server: /usr/sbin/fbguard not found (install firebird3.0-server)" >&2
    exit 1
  fi
  # The package's own service start may be disabled (containers): run the guard directly.
  /usr/sbin/fbguard -daemon -forever
  for _ in $(seq 1 60); do
    answers && break
    sleep 0.5
  done
  if ! answers; then
    echo "firebird-server: the server did not answer on localhost:3050" >&2
    exit 1
  fi
fi

sysdba_password=
if [[ -r $PWFILE ]]; then
  sysdba_password=$(sed -n 's/^ISC_PASSWORD=["]\{0,1\}\([^"]*\)["]\{0,1\}$/\1/p' "$PWFILE" | tail -n1)
fi
sysdba_password=${ISC_PASSWORD:-$sysdba_password}
if [[ -z $sysdba_password ]]; then
  echo "firebird-server: no SYSDBA password (ISC_PASSWORD or $PWFILE)" >&2
  exit 1
fi

# The security database takes no remote connections; users are managed from
# any database on the server, here a scratch one that is dropped again.
scratch=$(mktemp -d /tmp/fbusers.XXXXXX)
chmod 777 "$scratch"   # the server may run as another user
trap 'rm -rf "$scratch"' EXIT
out=$(isql-fb -q 2>&1 <<SQL || true
set bail on;
create database 'localhost:$scratch/users.fdb' user SYSDBA password '$sysdba_password';
set term ^;
execute block returns (created integer) as
begin
  created = 0;
  if (not exists (select 1 from sec\$users where sec\$user_name = '$APP_USER')) then
  begin
    execute statement 'create user $APP_USER password ''$APP_PASSWORD''';
    created = 1;
  end
  suspend;
end^
set term ;^
commit;
drop database;
SQL
)
if grep -q 'Statement failed\|SQLSTATE\|Use CONNECT' <<<"$out"; then
  printf '%s\n' "$out" >&2
  echo "firebird-server: could not make sure user $APP_USER exists" >&2
  exit 1
fi
if grep -Eq '^[[:space:]]*1[[:space:]]*$' <<<"$out"; then
  echo "firebird-server: created user $APP_USER"
fi
exit 0
