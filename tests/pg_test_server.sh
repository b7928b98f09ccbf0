#!/usr/bin/env bash
# A PostgreSQL server of the tests' own: made in a folder of its own, on a
# port of its own, with TLS certificates made here, stopped and removed after.
#   pg_test_server.sh start DIR     prints PGTEST_* lines (port, folder, CA, ...)
#   pg_test_server.sh stop DIR      stops it (if running) and removes DIR
#   pg_test_server.sh restart DIR
#   pg_test_server.sh cert DIR good|wronghost|wrongca   the certificate it shows
# As root every server program runs as the user postgres (runuser).
set -euo pipefail
cmd="${1:?}"
dir="${2:?}"
bin=/usr/lib/postgresql/15/bin
[ -x "$bin/initdb" ] || bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
as_server() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}
ctl() { as_server "$bin/pg_ctl" -D "$dir/data" -l "$dir/log" "$@" >/dev/null; }

certificate() { # NAME CA HOSTS...: a key and a certificate signed by CA
    local name=$1 ca=$2; shift 2
    local san="" h
    for h in "$@"; do
        case "$h" in [0-9]*) san+="${san:+,}IP:$h" ;; *) san+="${san:+,}DNS:$h" ;; esac
    done
    openssl req -new -newkey rsa:2048 -nodes -keyout "$dir/$name.key" -out "$dir/$name.csr" \
        -subj "/CN=$1" 2>/dev/null
    printf 'subjectAltName=%s\n' "$san" >"$dir/$name.ext"
    openssl x509 -req -in "$dir/$name.csr" -CA "$dir/$ca.crt" -CAkey "$dir/$ca.key" \
        -CAcreateserial -days 2 -out "$dir/$name.crt" -extfile "$dir/$name.ext" 2>/dev/null
    chmod 600 "$dir/$name.key"
}

free_port() {
    local p
    for _ in $(seq 200); do
        p=$((20000 + RANDOM % 30000))
        (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null || { echo "$p"; return; }
    done
    return 1
}

use_cert() { # good|wronghost|wrongca
    local name
    case "$1" in good) name=server ;; wronghost) name=otherhost ;; wrongca) name=foreign ;;
        *) echo "unknown certificate $1" >&2; exit 2 ;; esac
    cp "$dir/$name.crt" "$dir/shown.crt"
    cp "$dir/$name.key" "$dir/shown.key"
    chmod 600 "$dir/shown.key"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir/shown.crt" "$dir/shown.key"
    return 0
}

case "$cmd" in
start)
    mkdir -p "$dir"
    chmod 755 "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/ca.key" -out "$dir/ca.crt" -days 2 \
        -subj "/CN=Trellikon test CA" 2>/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/other-ca.key" \
        -out "$dir/other-ca.crt" -days 2 -subj "/CN=Another CA" 2>/dev/null
    certificate server ca localhost 127.0.0.1
    certificate otherhost ca otherhost.invalid
    certificate foreign other-ca localhost 127.0.0.1
    use_cert good
    password="$(openssl rand -hex 16)"
    echo "$password" >"$dir/superuser.password"
    [ "$(id -u)" -eq 0 ] && chown postgres "$dir" "$dir/superuser.password"
    as_server "$bin/initdb" -D "$dir/data" -U postgres --pwfile="$dir/superuser.password" \
        --auth-local=trust --auth-host=scram-sha-256 -E UTF8 --locale=C.UTF-8 >/dev/null
    cat >"$dir/data/pg_hba.conf" <<HBA
local     all all                trust
hostssl   all all 127.0.0.1/32   scram-sha-256
hostnossl all all 127.0.0.1/32   reject
HBA
    cp "$dir/data/postgresql.conf" "$dir/postgresql.conf.made"
    # Another server may take the free port first: then another one.
    for attempt in 1 2 3 4 5; do
        port="$(free_port)"
        cp "$dir/postgresql.conf.made" "$dir/data/postgresql.conf"
        cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = '127.0.0.1'
port = $port
unix_socket_directories = '$dir'
ssl = on
ssl_cert_file = '$dir/shown.crt'
ssl_key_file = '$dir/shown.key'
fsync = off
synchronous_commit = off
full_page_writes = off
max_connections = 40
shared_buffers = 32MB
CONF
        ctl -w start && break
        [ "$attempt" -eq 5 ] && { cat "$dir/log" >&2; exit 1; }
    done
    printf 'localhost:%s:*:postgres:%s\n' "$port" "$password" >"$dir/pgpass"
    chmod 600 "$dir/pgpass"
    echo "PGTEST_PORT=$port"
    echo "PGTEST_DIR=$dir"
    echo "PGTEST_CA=$dir/ca.crt"
    echo "PGTEST_OTHER_CA=$dir/other-ca.crt"
    echo "PGTEST_PASSFILE=$dir/pgpass"
    ;;
stop)
    [ -d "$dir/data" ] && { ctl -m immediate stop 2>/dev/null || true; }
    rm -rf "$dir"
    ;;
restart)
    ctl -w -m fast restart
    ;;
cert)
    use_cert "${3:?}"
    port="$(awk -F' = ' '$1 == "port" {print $2}' "$dir/data/postgresql.conf")"
    loaded() { as_server "$bin/psql" -h "$dir" -p "$port" -U postgres -Atc "SELECT pg_conf_load_time()" postgres; }
    before="$(loaded)"
    ctl reload
    # The server takes the new certificate in when it has read its
    # configuration again, which it says by a new load time.
    until [ "$(loaded)" != "$before" ]; do :; done
    ;;
*)
    echo "usage: $0 start|stop|restart|cert DIR [good|wronghost|wrongca]" >&2
    exit 2
    ;;
esac
