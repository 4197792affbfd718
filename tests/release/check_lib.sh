# The release checks' way of reporting: one line per check ("ok" or "FAIL" and the check's
# name, the failing command's last output lines under it) and counts for the closing tally.
# Sourced; CHECK_LOG names the file that holds a check's output while it runs.
passed=0 failed=0
CHECK_LOG="${CHECK_LOG:-$(mktemp)}"
check() {  # check NAME COMMAND...
    local name="$1"; shift
    if "$@" >"$CHECK_LOG" 2>&1; then
        passed=$((passed + 1)); echo "ok    $name"
    else
        failed=$((failed + 1)); echo "FAIL  $name"; sed 's/^/      /' "$CHECK_LOG" | tail -15
    fi
}
