# An FTP client session with Python's ftplib against the server under test; prints each reply
# (or what happened) on a line of its own.
# Usage: ftp_client.py PORT USER PASSWORD SCENARIO
import ftplib
import sys
import time

port, user, password, scenario = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
ftp = ftplib.FTP()
print(ftp.connect('127.0.0.1', port, timeout=10))

if scenario == 'session':
    print(ftp.login(user, password))
    print(ftp.pwd())
    print(ftp.cwd('sub'))
    print(ftp.pwd())
    print(ftp.sendcmd('CDUP'))
    print(ftp.pwd())
    print(ftp.voidcmd('NOOP'))
    print(ftp.sendcmd('SYST'))
    print(ftp.sendcmd('FEAT').replace('\n', '|'))
    print(ftp.quit())
elif scenario == 'refused':
    for attempt in range(3):
        started = time.monotonic()
        try:
            ftp.login(user, password)
            print('accepted')
        except ftplib.error_perm as e:
            print('refused', e, 'late' if time.monotonic() - started >= 0.9 else 'early')
    try:
        ftp.voidcmd('NOOP')
        print('still open')
    except (EOFError, OSError):
        print('closed')
