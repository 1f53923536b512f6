# An agent's FTP session with the collector (Python's ftplib): logs in with the given account, runs
# the actions in order and prints one line for each, the final reply or the refusal.
# Usage: ftp_agent.py PORT USER PASSWORD passive|active ACTION...
#   put:REMOTE=LOCAL   STOR of the local file
#   get:REMOTE=LOCAL   RETR into the local file
#   stou:LOCAL         STOU of the local file (the generated name is masked)
#   cmd:TEXT           any command on the control connection
import ftplib
import re
import sys

port, user, password, mode = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
ftp = ftplib.FTP()
ftp.connect('127.0.0.1', port, timeout=20)
try:
    print(ftp.login(user, password))
except ftplib.error_perm as e:
    print(e)
    sys.exit(0)
ftp.set_pasv(mode == 'passive')
for action in sys.argv[5:]:
    kind, _, arg = action.partition(':')
    try:
        if kind == 'put':
            remote, _, local = arg.partition('=')
            with open(local, 'rb') as f:
                print(ftp.storbinary('STOR ' + remote, f))
        elif kind == 'get':
            remote, _, local = arg.partition('=')
            with open(local, 'wb') as f:
                print(ftp.retrbinary('RETR ' + remote, f.write))
        elif kind == 'stou':
            with open(arg, 'rb') as f:
                print(re.sub(r"FTP[0-9A-F]{4}", 'FTPxxxx', ftp.storbinary('STOU', f)))
        else:
            print(ftp.sendcmd(arg))
    except ftplib.all_errors as e:
        print(e)
print(ftp.quit())
