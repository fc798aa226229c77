"""What the installation's files say, read without the program: the
administration, the host list, the hosts' project folders, locks and listings.

Every reader here is strict: a file that does not have its layout exactly is
reported as a problem, never read around.
"""
import fcntl
import hashlib
import os
import stat

HEADER_LEN = 10  # " 3n0000012"


class Record:
    __slots__ = ("slot", "name", "number", "status", "host", "raw")

    def __init__(self, slot, name, number, status, host, raw):
        self.slot, self.name, self.number, self.status, self.host, self.raw = slot, name, number, status, host, raw

    def key(self):
        return (self.name, self.number, self.host, self.status)


def read_containers(net):
    """The user container count of users.dat (1 when none is given)."""
    try:
        with open(os.path.join(net, "users.dat"), "rb") as f:
            for line in f.read(1 << 20).splitlines():
                parts = line.split()
                if len(parts) == 2 and parts[0] == b"containers":
                    return int(parts[1])
    except OSError:
        pass
    return 1


def parse_admin(path, containers, problems):
    """Records of project.dat (deleted slots left out) and the header's highest
    number; problems gets one line per fault of the layout."""
    try:
        with open(path, "rb") as f:
            data = f.read(64 << 20)
    except OSError as e:
        problems.append("project.dat cannot be read: %s" % e)
        return [], 0
    if not data:
        problems.append("project.dat is empty")
        return [], 0
    lines = data.split(b"\r\n")
    if lines[-1] == b"":
        lines.pop()
    else:
        problems.append("project.dat does not end with a whole line: %r" % lines[-1][:40])
    header = lines[0]
    if len(header) != HEADER_LEN or header[:2] != b" 3" or header[2:3] != b"n" or not header[3:].isdigit():
        problems.append("project.dat header is not a version 3 header: %r" % header)
        return [], 0
    highest = int(header[3:])
    width = 84 if containers == 0 else 106 + 8 * containers
    records = []
    for slot, line in enumerate(lines[1:], start=1):
        if len(line) != width:
            problems.append("slot %d has %d characters, the layout has %d: %r" % (slot, len(line), width, line[:60]))
            continue
        if line[:1] == b"#":
            continue
        if line[50:51] != b"@" or line[51:52] != b"n" or not line[52:59].isdigit():
            problems.append("slot %d: no '@n' and seven digits after the name: %r" % (slot, line[:60]))
            continue
        if containers and line[101:102] != b"@":
            problems.append("slot %d: no '@' after the host: %r" % (slot, line[:110]))
            continue
        name = line[:50].rstrip(b" ")
        if not name or name[:1] == b" ":
            problems.append("slot %d: empty or blank-led name" % slot)
        records.append(Record(slot, name, int(line[52:59]), line[63], line[85:101].rstrip(b" "), line))
    return records, highest


def read_hosts(net, problems):
    """data.cfg: host (upper case) -> data path."""
    hosts = {}
    try:
        with open(os.path.join(net, "data.cfg"), "rb") as f:
            for line in f.read(1 << 20).splitlines():
                parts = line.split(None, 1)
                if len(parts) == 2:
                    hosts[parts[0].upper()] = parts[1].strip()
    except OSError as e:
        problems.append("data.cfg cannot be read: %s" % e)
    return hosts


def prj_folder(unc_root, host, data_path):
    return os.path.join(unc_root, host.decode("cp1252"), *[p for p in data_path.decode("cp1252").split("\\") if p], "Prj")


def entries(folder):
    """name (bytes) -> kind ('dir', 'file', 'link', 'other') of a folder's entries."""
    out = {}
    try:
        names = os.listdir(os.fsencode(folder))
    except OSError:
        return None
    for n in names:
        try:
            st = os.lstat(os.path.join(os.fsencode(folder), n))
        except OSError:
            continue
        if stat.S_ISLNK(st.st_mode):
            out[n] = "link"
        elif stat.S_ISDIR(st.st_mode):
            out[n] = "dir"
        elif stat.S_ISREG(st.st_mode):
            out[n] = "file"
        else:
            out[n] = "other"
    return out


def lock_holders(paths):
    """The files among paths on which another process holds a byte-range lock."""
    held = []
    for p in paths:
        try:
            fd = os.open(p, os.O_RDWR | os.O_NOFOLLOW)
        except OSError:
            continue
        try:
            fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 0, 0, 0)
            fcntl.lockf(fd, fcntl.LOCK_UN, 0, 0, 0)
        except OSError:
            held.append(p)
        finally:
            os.close(fd)
    return held


def listing(top):
    """Every entry below top (links not followed): relative path -> (kind, mode,
    size, mtime_ns, content digest)."""
    out = {}
    top = os.fsencode(top)
    for dirpath, dirnames, filenames in os.walk(top, followlinks=False):
        for n in dirnames + filenames:
            p = os.path.join(dirpath, n)
            try:
                st = os.lstat(p)
            except OSError:
                continue
            digest = b""
            if stat.S_ISREG(st.st_mode):
                with open(p, "rb") as f:
                    digest = hashlib.sha1(f.read()).digest()
            elif stat.S_ISLNK(st.st_mode):
                digest = os.readlink(p)
            out[os.path.relpath(p, top)] = (stat.S_IFMT(st.st_mode), st.st_mode & 0o7777, st.st_size,
                                             st.st_mtime_ns if not stat.S_ISDIR(st.st_mode) else 0, digest)
    return out
