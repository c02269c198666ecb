#!/usr/bin/env bash
# Farm sharing through Redis failovers: a primary, a replica and three
# sentinels (redis-server, on free 127.0.0.1 ports), two hosts each in PID
# and mount namespaces of their own. Host A records a logoff every 50 ms for
# 12 s and the primary is killed (SIGKILL) 3 s in; the killed node comes back
# as a replica before the next round. Prints, per failover, the time from the
# primary's death to the first logoff refused on host B through the new
# primary and the logoffs B never refused, then the total. Runs the
# end-to-end failover test with more rounds; run as root, after a build.
#   --rounds N   failovers in a row (default 10)
source "$(dirname "$0")/benchstart.sh"
rounds=10
lc_bench_options rounds -- "$@"
test -x "$build/tests/e2e_farm_failover_test" ||
    cmake --build "$build" --target e2e_farm_failover_test >/dev/null
# A namespace of our own, so that no other instance of the service is seen.
LC_FAILOVER_ROUNDS="$rounds" unshare --pid --fork --mount-proc \
    "$build/tests/e2e_farm_failover_test" \
    --gtest_filter='FarmFailover.*' | grep -E '^failover|FAILED|PASSED'
