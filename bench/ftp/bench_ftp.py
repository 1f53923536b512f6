#!/usr/bin/python3
"""bench_ftp: how fast the collector's FTP server moves files, measured against vsftpd.

Each case uploads (and then downloads) the same files through real clients to a fresh collector
(KelvadonService -FOREGROUND in a temporary program folder made from the build's bin folder,
account Brindlework) and to a fresh vsftpd (Debian's, started here on loopback with its own
temporary configuration: anonymous upload into a temporary folder), passive and active. Large and
medium files go through curl (one curl process per case, so one control connection), the many
small ones through Python's ftplib in one session. Every file that arrives is compared byte for
byte with its source. Both servers run at nice 19, as the collector puts itself at idle priority.

Prints MB/s (files/s for the small files), the ratio collector / vsftpd, and the collector's CPU
seconds (user + system) per GB moved. Leaves nothing listening and removes its folders (a failed
run leaves the folder of the server that failed, and says so).
"""

import argparse
import filecmp
import ftplib
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

ACCOUNT = ("Brindlework", "rtso7362")
COLLECTOR_FTP_PORT = 9021
MB = 1000 * 1000


def fail(text):
    print("bench_ftp: " + text, file=sys.stderr)
    sys.exit(1)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_accepts(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def wait_for(pred, seconds, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if pred():
            return True
        time.sleep(step)
    return pred()


def cpu_seconds(pid):
    """User + system CPU seconds of pid and its waited-for children."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = os.sysconf("SC_CLK_TCK")
    return sum(int(v) for v in fields[11:15]) / ticks


class Server:
    """A server process in a temporary folder; files go to and come from `upload_dir`."""

    name = ""
    user = ACCOUNT

    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="kwbench-%s-" % self.name)
        self.proc = None
        self.keep = False  # a failed server's folder stays for its log
        self.log = open(os.path.join(self.dir, "output.log"), "wb")

    def start(self, argv):
        self.proc = subprocess.Popen(
            ["nice", "-n", "19"] + argv, cwd=self.dir, stdout=self.log, stderr=subprocess.STDOUT,
            preexec_fn=os.setsid)
        if not wait_for(lambda: port_accepts(self.port) or self.proc.poll() is not None, 20):
            self.failed("did not start listening on port %d" % self.port)
        if self.proc.poll() is not None:
            self.failed("ended at its start")

    def failed(self, what):
        self.keep = True
        self.stop()
        fail("%s %s; see %s" % (self.name, what, os.path.join(self.dir, "output.log")))

    def cpu(self):
        # Threads included; the collector makes no processes of its own.
        return cpu_seconds(self.proc.pid)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGINT)
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self.log.close()
        if not self.keep:
            shutil.rmtree(self.dir, ignore_errors=True)

    def clear_uploads(self):
        for name in os.listdir(self.upload_dir):
            os.unlink(os.path.join(self.upload_dir, name))


class Collector(Server):
    name = "collector"

    def __init__(self, bin_dir):
        super().__init__()
        shutil.copy2(os.path.join(bin_dir, "KelvadonService"), self.dir)
        for name in os.listdir(bin_dir):
            if name.startswith("lib") and name.endswith(".so"):
                shutil.copy2(os.path.join(bin_dir, name), self.dir)
        for sub in ("RecvData", "Log", "up"):
            os.mkdir(os.path.join(self.dir, sub))
        with open(os.path.join(self.dir, "KelvadonMan.ini"), "wb") as f:
            f.write(b"[KelvadonManager]\r\nPort=%d\r\n" % free_port())
        self.port = COLLECTOR_FTP_PORT
        self.upload_dir = os.path.join(self.dir, "up")
        self.remote_dir = "/up"

    def start(self):
        if port_accepts(COLLECTOR_FTP_PORT) and not wait_for(
                lambda: not port_accepts(COLLECTOR_FTP_PORT), 120, 0.5):
            fail("port 9021 (the collector's FTP port) stays in use: is a collector running?")
        super().start([os.path.join(self.dir, "KelvadonService"), "-FOREGROUND"])


class Vsftpd(Server):
    name = "vsftpd"
    user = ("anonymous", "bench@kelvadon.test")

    def __init__(self):
        super().__init__()
        root = os.path.join(self.dir, "root")
        self.upload_dir = os.path.join(root, "up")
        self.remote_dir = "/up"
        os.makedirs(self.upload_dir)
        os.mkdir(os.path.join(self.dir, "empty"))
        os.chmod(self.dir, 0o755)
        os.chmod(root, 0o755)  # vsftpd refuses an anonymous root the session may write to
        # Debian's vsftpd package makes the user "ftp" (home /srv/ftp) for anonymous sessions.
        import pwd
        ftp = pwd.getpwnam("ftp")
        os.chown(self.upload_dir, ftp.pw_uid, ftp.pw_gid)
        self.port = free_port()
        conf = {
            "listen": "YES", "listen_ipv6": "NO", "listen_address": "127.0.0.1",
            "listen_port": str(self.port), "background": "NO",
            "anonymous_enable": "YES", "local_enable": "NO", "no_anon_password": "YES",
            "anon_root": root, "ftp_username": "ftp", "write_enable": "YES",
            "anon_upload_enable": "YES", "anon_other_write_enable": "YES",
            "anon_world_readable_only": "NO", "anon_umask": "022",
            "secure_chroot_dir": os.path.join(self.dir, "empty"),
            "seccomp_sandbox": "NO", "isolate": "NO", "isolate_network": "NO",
            "connect_from_port_20": "NO", "pasv_enable": "YES", "port_enable": "YES",
            "pasv_min_port": "0", "pasv_max_port": "0", "xferlog_enable": "NO",
            "use_localtime": "NO", "max_clients": "0", "max_per_ip": "0",
            "idle_session_timeout": "600", "data_connection_timeout": "600",
        }
        self.conf = os.path.join(self.dir, "vsftpd.conf")
        with open(self.conf, "w") as f:
            for k, v in conf.items():
                f.write("%s=%s\n" % (k, v))
        os.chmod(self.conf, 0o600)  # vsftpd wants its configuration owned and private

    @staticmethod
    def program():
        for p in ("/usr/sbin/vsftpd", "/sbin/vsftpd"):
            if os.access(p, os.X_OK):
                return p
        return ""

    def start(self):
        super().start([self.program(), self.conf])


# ---- workloads ----

def make_files(folder, prefix, count, size):
    names = []
    for i in range(count):
        name = "%s%05d.bin" % (prefix, i)
        with open(os.path.join(folder, name), "wb") as f:
            f.write(os.urandom(size))
        names.append(name)
    return names


def curl(server, args):
    cmd = ["curl", "--silent", "--show-error", "--fail", "--user", "%s:%s" % server.user] + args
    r = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode != 0:
        server.failed("refused curl %s: %s" % (" ".join(args[-2:]), r.stderr.decode(errors="replace")))


def mode_args(active):
    return ["--ftp-port", "127.0.0.1"] if active else ["--ftp-pasv"]


def url(server, name=""):
    return "ftp://127.0.0.1:%d%s/%s" % (server.port, server.remote_dir, name)


def upload_curl(server, src, names, active):
    # One curl with every file: one control connection, one data connection per file.
    args = mode_args(active)
    for name in names:
        args += ["-T", os.path.join(src, name), url(server, name)]
    curl(server, args)


def download_curl(server, dst, names, active):
    args = mode_args(active)
    for name in names:
        args += ["-o", os.path.join(dst, name), url(server, name)]
    curl(server, args)


def session(server, active):
    f = ftplib.FTP()
    f.connect("127.0.0.1", server.port, timeout=600)
    f.login(*server.user)
    f.set_pasv(not active)
    f.cwd(server.remote_dir)
    return f


def upload_ftplib(server, src, names, active):
    with session(server, active) as f:
        for name in names:
            with open(os.path.join(src, name), "rb") as data:
                f.storbinary("STOR " + name, data)


def download_ftplib(server, dst, names, active):
    with session(server, active) as f:
        for name in names:
            with open(os.path.join(dst, name), "wb") as out:
                f.retrbinary("RETR " + name, out.write)


def compare(server, a, b, names, what):
    for name in names:
        pa, pb = os.path.join(a, name), os.path.join(b, name)
        if not os.path.exists(pb) or not filecmp.cmp(pa, pb, shallow=False):
            server.failed("%s: %s differs from its source" % (what, name))


def measure(server, work):
    cpu = server.cpu()
    start = time.monotonic()
    work()
    return time.monotonic() - start, server.cpu() - cpu


def run_case(server, case, src, names, size, active, scratch):
    """Upload then download; returns ((up seconds, up cpu), (down seconds, down cpu))."""
    server.clear_uploads()
    small = case == "small"
    up = measure(server, lambda: (upload_ftplib if small else upload_curl)(server, src, names, active))
    compare(server, src, server.upload_dir, names, "upload")
    shutil.rmtree(scratch, ignore_errors=True)
    os.mkdir(scratch)
    down = measure(server, lambda: (download_ftplib if small else download_curl)(server, scratch, names, active))
    compare(server, src, scratch, names, "download")
    return up, down


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    p = argparse.ArgumentParser(description="The collector's FTP server against vsftpd.")
    p.add_argument("--bin", default=os.path.join(here, "..", "..", "build", "bin"),
                   help="where KelvadonService and its lib*.so are (default build/bin)")
    p.add_argument("--large-mb", type=int, default=300, help="the large file's size in MB")
    p.add_argument("--medium", type=int, default=200, help="how many 1 MB files")
    p.add_argument("--small", type=int, default=2000, help="how many 4 KiB files")
    p.add_argument("--cases", default="large,medium,small")
    p.add_argument("--modes", default="passive,active")
    p.add_argument("--no-vsftpd", action="store_true")
    o = p.parse_args()

    if not os.access(os.path.join(o.bin, "KelvadonService"), os.X_OK):
        fail("no KelvadonService in %s (build it, or give --bin)" % o.bin)
    if not shutil.which("curl"):
        fail("curl is not installed (scripts/setup installs it)")
    if not o.no_vsftpd and not Vsftpd.program():
        fail("vsftpd is not installed (scripts/setup installs it; or give --no-vsftpd)")
    if not o.no_vsftpd and os.geteuid() != 0:
        fail("vsftpd's anonymous upload needs root (or give --no-vsftpd)")

    work = tempfile.mkdtemp(prefix="kwbench-ftp-files-")
    cases = {
        "large": ("1 x %d MB" % o.large_mb, "large", 1, o.large_mb * MB),
        "medium": ("%d x 1 MB" % o.medium, "medium", o.medium, MB),
        "small": ("%d x 4 KiB" % o.small, "small", o.small, 4096),
    }
    chosen = [c for c in o.cases.split(",") if c]
    for c in chosen:
        if c not in cases:
            fail("unknown case %s" % c)
    files = {}
    for c in chosen:
        _, prefix, count, size = cases[c]
        src = os.path.join(work, c)
        os.mkdir(src)
        files[c] = (src, make_files(src, prefix, count, size))

    servers = [("collector", lambda: Collector(os.path.abspath(o.bin)))]
    if not o.no_vsftpd:
        servers.append(("vsftpd", Vsftpd))
    results = {}
    try:
        for name, make in servers:
            server = make()
            server.start()
            try:
                for c in chosen:
                    src, names = files[c]
                    for mode in o.modes.split(","):
                        results[(name, c, mode)] = run_case(
                            server, c, src, names, cases[c][3], mode == "active",
                            os.path.join(work, "down"))
            finally:
                server.stop()
    finally:
        shutil.rmtree(work, ignore_errors=True)

    row = "%-16s %-8s %-5s %12s %12s %7s %16s"
    print(row % ("case", "mode", "dir", "collector", "vsftpd", "ratio", "collector CPU"))
    for c in chosen:
        label, _, count, size = cases[c]
        moved = count * size
        for mode in o.modes.split(","):
            for i, direction in enumerate(("up", "down")):
                secs, cpu = results[("collector", c, mode)][i]
                if c == "small":
                    rate = lambda s: "%.0f files/s" % (count / s)
                    value = lambda s: count / s
                else:
                    rate = lambda s: "%.0f MB/s" % (moved / MB / s)
                    value = lambda s: moved / s
                other = results.get(("vsftpd", c, mode))
                print(row % (label, mode, direction, rate(secs),
                             rate(other[i][0]) if other else "-",
                             "%.2f" % (value(secs) / value(other[i][0])) if other else "-",
                             "%.2f s/GB" % (cpu / (moved / 1e9))))


if __name__ == "__main__":
    main()
