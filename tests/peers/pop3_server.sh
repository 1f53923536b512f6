#!/bin/bash
# Starts and stops a dovecot POP3 server on 127.0.0.1 for the POP3 client's tests.
#
#   pop3_server.sh start DIR PORT   writes a configuration, a password file and a Maildir of three
#                                   messages for each test user into DIR (which its caller made,
#                                   mode 755, so that dovecot's users reach it), starts
#                                   "dovecot -F -c DIR/dovecot.conf" in the background, waits until
#                                   127.0.0.1:PORT accepts, and prints dovecot's process id
#   pop3_server.sh stop DIR         stops the dovecot that "start" started there (by its id) and
#                                   waits until it is gone
#
# The users are alice, bob, carol and dave, each with the password "secret" and a Maildir of
# their own, so that a test that deletes messages changes nobody else's mailbox.
# Run unprivileged, every process and file is the caller's. As root, dovecot's login processes
# cannot be root: they run as dovenull, its internal processes as dovecot, and the mail as nobody.
# Exits non-zero, with the reason on stderr and the end of dovecot's log, when dovecot does not
# come up within 60 s (a loaded machine may take a while; the wait ends as soon as it accepts).
set -eu

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

[ $# -ge 2 ] || usage
cmd=$1
dir=$2

if [ "$cmd" = stop ]; then
  [ -f "$dir/dovecot.pid" ] || exit 0
  pid=$(cat "$dir/dovecot.pid")
  kill "$pid" 2>/dev/null || exit 0
  i=0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 100 ]; do
    sleep 0.1
    i=$((i + 1))
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/dovecot.pid"
  exit 0
fi

[ "$cmd" = start ] && [ $# -eq 3 ] || usage
port=$3
dovecot=$(PATH="$PATH:/usr/sbin:/sbin" command -v dovecot) || {
  echo "$0: dovecot is not installed (Debian package dovecot-pop3d)" >&2
  exit 1
}

if [ "$(id -u)" = 0 ]; then
  login_user=dovenull
  internal_user=dovecot
  internal_group=dovecot
  mail_user=nobody
  mail_group=$(id -gn nobody)
else
  login_user=$(id -un)
  internal_user=$login_user
  internal_group=$(id -gn)
  mail_user=$login_user
  mail_group=$(id -gn)
fi

mkdir -p "$dir/run" "$dir/state" "$dir/home"

cat >"$dir/passwd" <<PASSWD
alice:{PLAIN}secret
bob:{PLAIN}secret
carol:{PLAIN}secret
dave:{PLAIN}secret
PASSWD

cat >"$dir/dovecot.conf" <<CONF
base_dir = $dir/run
state_dir = $dir/state
log_path = $dir/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_failure_delay = 0
auth_mechanisms = plain login cram-md5 apop
default_login_user = $login_user
default_internal_user = $internal_user
default_internal_group = $internal_group
first_valid_uid = 0
mail_location = maildir:$dir/home/%u/Maildir
service anvil {
  chroot =
}
service pop3-login {
  chroot =
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
}
passdb {
  driver = passwd-file
  args = $dir/passwd
}
userdb {
  driver = static
  args = uid=$mail_user gid=$mail_group home=$dir/home/%u
}
CONF

# Three messages: the first has a folded Subject, two Cc lines and body lines that need dot
# handling; the second a 6000-byte line; the third is short.
long=$(head -c 6000 /dev/zero | tr '\0' 'x')
for user in alice bob carol dave; do
  md=$dir/home/$user/Maildir
  mkdir -p "$md/cur" "$md/new" "$md/tmp"
  printf '%s\n' \
    'From: Sender <sender@example.com>' \
    'To: alice@example.com' \
    'Subject: a folded' \
    ' subject line' \
    'Cc: one@example.com' \
    'Cc: two@example.com' \
    'Date: Mon, 1 Jan 2024 10:00:00 +0900' \
    'Message-ID: <m1@example.com>' \
    '' \
    'first body line' \
    '.' \
    '..' \
    '.x' \
    'last body line' >"$md/cur/1000000001.m1.kelvadon:2,"
  printf '%s\n' \
    'From: sender@example.com' \
    'Subject: long line' \
    '' \
    "$long" \
    'after the long line' >"$md/cur/1000000002.m2.kelvadon:2,"
  printf '%s\n' \
    'From: sender@example.com' \
    'Subject: third' \
    '' \
    'third body' >"$md/cur/1000000003.m3.kelvadon:2,"
done
if [ "$(id -u)" = 0 ]; then
  chown -R "$mail_user:$mail_group" "$dir/home"
fi

"$dovecot" -F -c "$dir/dovecot.conf" </dev/null >>"$dir/dovecot.out" 2>&1 &
echo $! >"$dir/dovecot.pid"

# Up when the port accepts.
i=0
while [ $i -lt 600 ]; do
  if ! kill -0 "$(cat "$dir/dovecot.pid")" 2>/dev/null; then
    echo "$0: dovecot ended at start; its output and log:" >&2
    cat "$dir/dovecot.out" "$dir/dovecot.log" >&2 2>/dev/null || true
    exit 1
  fi
  if (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null; then
    cat "$dir/dovecot.pid"
    exit 0
  fi
  sleep 0.1
  i=$((i + 1))
done
echo "$0: dovecot does not accept on 127.0.0.1:$port after 60 s; its log:" >&2
tail -n 20 "$dir/dovecot.log" >&2 2>/dev/null || true
"$0" stop "$dir"
exit 1
