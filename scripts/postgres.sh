# A throwaway PostgreSQL cluster for the tests that need a real database
# server. Source it (after lib.sh, or on its own); then
#   start_postgres    creates a cluster under build/, starts it on 127.0.0.1
#                     on a free port with a database and a login of its own,
#                     and exports
#                       TOLMAR_PG_ODBC  ODBC connection string ("PostgreSQL Unicode")
#                       TOLMAR_PG_PORT  the port
#                       TOLMAR_PG_DSN   an ODBC data source name for the same
#                                       login, defined in the file ODBCINI
#                       ODBCINI         the user data-source file of unixODBC
#                                       (Wine's odbc32 reaches unixODBC, so the
#                                       Windows programs see the DSN as well)
#   restart_postgres  stops and starts the server on the same port
#   stop_postgres     stops the server and removes the cluster
# The tests under Wine make "the server going away" themselves: a second
# connection ends the first one's backend with pg_terminate_backend.
# shellcheck shell=bash

PG_ROOT=""
PG_PORT=""
PG_AS=()

pg_log() { printf '== %s\n' "$*" >&2; }

pg_bin() {
  local dir
  dir=$(printf '%s\n' /usr/lib/postgresql/*/bin | sort -V | tail -n1)
  [ -x "$dir/postgres" ] || dir=""
  [ -n "$dir" ] || { pg_log "PostgreSQL is not installed (package postgresql)"; return 1; }
  printf '%s\n' "$dir"
}

# Runs a server command as the cluster's owner: PostgreSQL refuses to run as root.
pg_as() { "${PG_AS[@]}" "$@"; }

pg_port_busy() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start_postgres() {
  local bin build
  bin=$(pg_bin) || return 1
  stop_postgres  # a cluster of an earlier start in this shell
  build="${BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build}"
  mkdir -p "$build"
  PG_AS=()
  if [ "$(id -u)" -eq 0 ]; then
    id postgres >/dev/null 2>&1 || { pg_log "no 'postgres' system user to run the server as"; return 1; }
    PG_AS=(runuser -u postgres --)
  fi
  PG_ROOT="$build/postgres"
  # The owner must be able to reach the folder; when build/ lies below a
  # folder closed to other users, the cluster goes to a temporary folder.
  rm -rf "$PG_ROOT"
  mkdir -p "$PG_ROOT"
  if [ ${#PG_AS[@]} -gt 0 ]; then
    chown postgres: "$PG_ROOT"
    if ! pg_as test -w "$PG_ROOT"; then
      rm -rf "$PG_ROOT"
      PG_ROOT=$(mktemp -d /tmp/tolmar-postgres.XXXXXX)
      chown postgres: "$PG_ROOT"
    fi
  fi

  local password
  password=$(od -An -N12 -tx1 /dev/urandom | tr -d ' \n')
  if ! pg_as "$bin/initdb" -D "$PG_ROOT/data" -U tolmar_admin -E UTF8 --no-locale \
      --auth-local=trust --auth-host=scram-sha-256 >"$PG_ROOT/initdb.log" 2>&1; then
    pg_log "initdb failed:"
    cat "$PG_ROOT/initdb.log" >&2
    return 1
  fi

  local port=""
  for _ in $(seq 1 20); do
    port=$((20000 + (RANDOM * 32768 + RANDOM) % 40000))
    pg_port_busy "$port" && continue
    if pg_as "$bin/pg_ctl" -D "$PG_ROOT/data" -l "$PG_ROOT/server.log" -w -t 30 \
        -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$PG_ROOT -c fsync=off -c max_connections=30" \
        start >/dev/null 2>&1; then
      PG_PORT=$port
      break
    fi
    grep -q 'could not bind\|in use' "$PG_ROOT/server.log" 2>/dev/null || break
  done
  if [ -z "$PG_PORT" ]; then
    pg_log "the PostgreSQL server did not start:"
    tail -n 20 "$PG_ROOT/server.log" >&2 2>/dev/null
    return 1
  fi

  if ! pg_as "$bin/psql" -q -v ON_ERROR_STOP=1 -h "$PG_ROOT" -p "$PG_PORT" -U tolmar_admin -d postgres \
      -c "CREATE ROLE tolmar LOGIN PASSWORD '$password'" \
      -c "CREATE DATABASE tolmar OWNER tolmar ENCODING 'UTF8'" >"$PG_ROOT/setup.log" 2>&1; then
    pg_log "creating the test database failed:"
    cat "$PG_ROOT/setup.log" >&2
    return 1
  fi

  cat >"$PG_ROOT/odbc.ini" <<EOF
[tolmar_pg]
Driver=PostgreSQL Unicode
Servername=127.0.0.1
Port=$PG_PORT
Database=tolmar
Username=tolmar
Password=$password
EOF
  export TOLMAR_PG_PORT="$PG_PORT"
  export TOLMAR_PG_ODBC="Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$PG_PORT;Database=tolmar;Uid=tolmar;Pwd=$password"
  export TOLMAR_PG_DSN=tolmar_pg
  export ODBCINI="$PG_ROOT/odbc.ini"
  pg_log "PostgreSQL on 127.0.0.1:$PG_PORT ($PG_ROOT)"
}

restart_postgres() {
  [ -n "$PG_ROOT" ] || return 1
  local bin
  bin=$(pg_bin) || return 1
  pg_as "$bin/pg_ctl" -D "$PG_ROOT/data" -l "$PG_ROOT/server.log" -w -t 30 -m fast restart >/dev/null
}

stop_postgres() {
  [ -n "$PG_ROOT" ] || return 0
  local bin
  if bin=$(pg_bin) && [ -d "$PG_ROOT/data" ]; then
    pg_as "$bin/pg_ctl" -D "$PG_ROOT/data" -w -t 30 -m immediate stop >/dev/null 2>&1 || true
  fi
  rm -rf "$PG_ROOT"
  PG_ROOT=""
  PG_PORT=""
}
