# selfcheckrun on the board: a test directory with a passing program, a
# failing one (two lines, status 3) and a file that is not executable; one
# run, published under /run and copied to /var/log, then the install marker
# stops the runner. The system log goes to busybox's syslogd.
. /board/lib.sh

mkdir -p /etc/selfcheckrun.d
printf '#!/bin/sh\necho "<test name=\\"pass\\" result=\\"ok\\"/>"\n' >/etc/selfcheckrun.d/pass
printf '#!/bin/sh\necho "<test name=\\"fail\\">"\necho "</test>"\nexit 3\n' >/etc/selfcheckrun.d/fail
printf '#!/bin/sh\necho "<never/>"\n' >/etc/selfcheckrun.d/plain
chmod 755 /etc/selfcheckrun.d/pass /etc/selfcheckrun.d/fail
chmod 644 /etc/selfcheckrun.d/plain
syslogd -n -O /var/log/messages &
syslog=$!
wait_until 10 [ -S /dev/log ]

step "one run"
selfcheckrun -i 0 -s 2 >$OUT/run.out 2>$OUT/run.err &
runner=$!
wait_until 30 [ -e /var/log/selfcheckrun.xml ]
touch /tmp/install-wait
wait $runner
echo $? >$OUT/run.rc
kill $syslog
keep /run/selfcheckrun.xml
keep /var/log/selfcheckrun.xml copy.xml
keep /var/log/messages
ls /run >$OUT/run.ls
finish
