# An FTP client session with Python's ftplib against the server under test; prints each reply
# (or what happened) on a line of its own.
# Usage: ftp_client.py PORT USER PASSWORD SCENARIO [LOCAL_DIR]
import ftplib
import io
import os
import re
import sys
import time

port, user, password, scenario = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
local = sys.argv[5] if len(sys.argv) > 5 else '.'


def read_local(name):
    with open(os.path.join(local, name), 'rb') as f:
        return f.read()


def write_local(name, data):
    with open(os.path.join(local, name), 'wb') as f:
        f.write(data)
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
elif scenario in ('passive', 'active'):
    # Uploads and downloads of LOCAL_DIR/up.bin: whole, resumed at 1000 both ways, unique; then
    # the listings. Downloads are written to LOCAL_DIR.
    print(ftp.login(user, password))
    ftp.set_pasv(scenario == 'passive')
    print(ftp.sendcmd('TYPE I'))
    data = read_local('up.bin')
    print(ftp.storbinary('STOR up.bin', io.BytesIO(data)))
    print(ftp.sendcmd('SIZE up.bin'))
    got = bytearray()
    print(ftp.retrbinary('RETR up.bin', got.extend))
    write_local('down.bin', bytes(got))
    # The server holds the first 1000 bytes of resume.bin (the test put them there).
    rest = io.BytesIO(data)
    rest.seek(1000)
    print(ftp.storbinary('STOR resume.bin', rest, rest=1000))
    tail = bytearray()
    print(ftp.retrbinary('RETR up.bin', tail.extend, rest=1000))
    write_local('tail.bin', bytes(tail))
    reply = ftp.storbinary('STOU', io.BytesIO(b'unique'))
    print(re.sub(r"'/FTP[0-9A-F]{4}'", "'/FTPxxxx'", reply))
    facts = {name: f['type'] for name, f in ftp.mlsd()}
    print(' '.join(sorted(n + ':' + t for n, t in facts.items() if not n.startswith('FTP'))))
    print(' '.join(sorted(n for n in ftp.nlst() if not n.startswith('FTP'))))
    lines = []
    ftp.dir(lines.append)
    print(len([l for l in lines if l.endswith(' up.bin') and l.startswith('-rw-rw-rw-')]))
    print(ftp.quit())
