#!/usr/bin/env bash
# A private RabbitMQ broker for the tests: its own node name, AMQP port,
# distribution port, epmd port and data directory under DIR.
#   broker.sh start DIR    starts it, writes DIR/port (the AMQP port) and DIR/env
#   broker.sh stop DIR     stops it and its epmd
#   broker.sh pause DIR    stops the broker application (connections drop, the port refuses)
#   broker.sh resume DIR   starts the application again
#   broker.sh restart DIR  stops the whole node and starts it again with its data
#   broker.sh ctl DIR ARGS rabbitmqctl ARGS for this node
set -euo pipefail
cmd=$1
dir=$(mkdir -p "$2" && cd "$2" && pwd)

free_port() {
  /usr/bin/python3 - <<'PY'
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()
PY
}

if [ "$cmd" = start ]; then
  [ -f "$dir/env" ] && "$0" stop "$dir" >/dev/null 2>&1 || true
  rm -rf "$dir/mnesia" "$dir/log"
  mkdir -p "$dir/mnesia" "$dir/log"
  tag=$(printf '%s' "$dir" | sha1sum | cut -c1-10)
  amqp=$(free_port); dist=$(free_port); epmd=$(free_port)
  cat > "$dir/env" <<ENV
export RABBITMQ_NODENAME=ombrix-$tag@localhost
export RABBITMQ_NODE_IP_ADDRESS=127.0.0.1
export RABBITMQ_NODE_PORT=$amqp
export RABBITMQ_DIST_PORT=$dist
export ERL_EPMD_PORT=$epmd
export RABBITMQ_MNESIA_BASE=$dir/mnesia
export RABBITMQ_LOG_BASE=$dir/log
export RABBITMQ_PID_FILE=$dir/broker.pid
export RABBITMQ_ENABLED_PLUGINS_FILE=$dir/enabled_plugins
export RABBITMQ_CONFIG_FILE=$dir/rabbitmq
export RABBITMQ_ADVANCED_CONFIG_FILE=$dir/advanced.config
export RABBITMQ_CONF_ENV_FILE=$dir/rabbitmq-env.conf
ENV
  echo '[].' > "$dir/enabled_plugins"
  : > "$dir/rabbitmq.conf"
  : > "$dir/rabbitmq-env.conf"
  echo '[].' > "$dir/advanced.config"
  # shellcheck disable=SC1091
  . "$dir/env"
  setsid /usr/lib/rabbitmq/bin/rabbitmq-server >"$dir/log/server.out" 2>&1 </dev/null &
  echo $! > "$dir/server.pid"
  for _ in $(seq 1 120); do
    if /usr/lib/rabbitmq/bin/rabbitmqctl -q await_startup --timeout 2 >/dev/null 2>&1; then
      echo "$amqp" > "$dir/port"
      exit 0
    fi
    kill -0 "$(cat "$dir/server.pid")" 2>/dev/null || { cat "$dir/log/server.out" >&2; exit 1; }
    sleep 0.5
  done
  echo "broker did not start" >&2
  exit 1
fi

[ -f "$dir/env" ] || { echo "no broker in $dir" >&2; exit 1; }
# shellcheck disable=SC1091
. "$dir/env"
ctl=/usr/lib/rabbitmq/bin/rabbitmqctl
case $cmd in
  stop)
    $ctl -q stop >/dev/null 2>&1 || true
    if [ -f "$dir/server.pid" ]; then
      pid=$(cat "$dir/server.pid")
      for _ in $(seq 1 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.25; done
      kill -- -"$pid" 2>/dev/null || true
    fi
    epmd -port "$ERL_EPMD_PORT" -kill >/dev/null 2>&1 || true
    rm -f "$dir/port" "$dir/server.pid"
    ;;
  restart)
    # The whole node goes and comes back with its data, on the same ports.
    $ctl -q stop >/dev/null 2>&1 || true
    pid=$(cat "$dir/server.pid")
    for _ in $(seq 1 80); do kill -0 "$pid" 2>/dev/null || break; sleep 0.25; done
    setsid /usr/lib/rabbitmq/bin/rabbitmq-server >>"$dir/log/server.out" 2>&1 </dev/null &
    echo $! > "$dir/server.pid"
    for _ in $(seq 1 120); do
      $ctl -q await_startup --timeout 2 >/dev/null 2>&1 && exit 0
      sleep 0.5
    done
    echo "broker did not come back" >&2
    exit 1
    ;;
  pause) $ctl -q stop_app ;;
  resume) $ctl -q start_app && $ctl -q await_startup ;;
  ctl) shift 2; $ctl "$@" ;;
  *) echo "unknown command $cmd" >&2; exit 2 ;;
esac
