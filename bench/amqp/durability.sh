#!/usr/bin/env bash
# The long durability run: 10,000 replies through the AMQP daemon while the
# whole broker node is restarted three times and the AMQP daemon is killed
# three times. Uses the build in build/ (or $OMBRIX_BUILD).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
build=${OMBRIX_BUILD:-$top/build}
exec "$build/bench/amqp/amqp_durability" --count "${1:-10000}" --restarts 3 --kills 3 --full-restart
