#!/bin/bash
# Inside the booted test system: runs the tests of debian/tests/control in order, the way
# autopkgtest would on a machine of its own (isolation-machine): the packages under
# test are installed before each test that depends on them, unless still installed.
# Each test gets a time limit; every line goes to the second serial port, and each
# test ends in one "vstest-result NAME PASS|FAIL|SKIP" line the host reads.
set -u

carrier=/srv/vstest
tests=$carrier/tests
export VANTORSYNC_DEBS=$carrier/debs
export VANTORSYNC_PREVIOUS_DEBS=$carrier/previous
export DEBIAN_FRONTEND=noninteractive
# Tools the tests use that the test system does not install (promtool).
export PATH=$carrier/bin:$PATH
per_test_limit=${VSTEST_TIME_LIMIT:-600}

echo "vstest-begin $(date -u +%FT%TZ) kernel $(uname -r)"
echo "vstest-info systemd: $(systemctl is-system-running 2>&1)"

install_packages() {
    dpkg-query -W -f='${Status}\n' vantorsync-server vantorsync-console 2>/dev/null |
        grep -c 'install ok installed' | grep -qx 2 && return 0
    timeout 300 apt-get install -y -q "$VANTORSYNC_DEBS"/vantorsync-*.deb
}

run_one() {
    local name=$1 depends=$2 restrictions=$3
    local scratch status
    scratch=$(mktemp -d /var/tmp/autopkgtest.XXXXXX)
    echo "vstest-start $name"
    if [ "$depends" = "@" ] && ! install_packages; then
        echo "vstest-result $name FAIL (the packages under test could not be installed)"
        return
    fi
    AUTOPKGTEST_TMP=$scratch timeout --kill-after=10 "$per_test_limit" \
        bash "$tests/$name" 2>&1 | sed -u "s/^/$name: /"
    status=${PIPESTATUS[0]}
    rm -rf "$scratch"
    if [ "$status" = 0 ]; then
        echo "vstest-result $name PASS"
    elif [ "$status" = 77 ] && [[ $restrictions == *skippable* ]]; then
        echo "vstest-result $name SKIP"
    elif [ "$status" = 124 ] || [ "$status" = 137 ]; then
        echo "vstest-result $name FAIL (no end within $per_test_limit s)"
    else
        echo "vstest-result $name FAIL (exit status $status)"
    fi
}

# Stanzas are separated by blank lines; only Tests, Depends and Restrictions matter here.
names="" depends="" restrictions=""
flush() {
    local name
    for name in $names; do
        run_one "$name" "$depends" "$restrictions"
    done
    names="" depends="" restrictions=""
}
while IFS= read -r line || [ -n "$line" ]; do
    case $line in
        Tests:*) names=${line#Tests:}; names=${names//,/ } ;;
        Depends:*) depends=$(echo "${line#Depends:}" | tr -d ' ') ;;
        Restrictions:*) restrictions=${line#Restrictions:} ;;
        "") flush ;;
    esac
done < "$tests/control"
flush
echo "vstest-end"
