"""A FUSE filesystem for the fault suite: a passthrough of one folder that
fails one write with EIO, the first whose range holds a given offset, and
logs that write's range as "OFFSET LENGTH".

    python3 failing-fs.py FOLDER MOUNTPOINT OFFSET LOG

It runs in the foreground until the mount point is unmounted. It needs
python3-fusepy (and so libfuse2).
"""
import errno
import os
import sys

try:
    import fusepy as fuse  # Debian's name for it
except ImportError:
    import fuse


class Failing(fuse.Operations):
    def __init__(self, root, at, log):
        self.root, self.at, self.log, self.failed = root, at, log, False

    def _real(self, path):
        return os.path.join(self.root, path.lstrip("/"))

    def getattr(self, path, fh=None):
        st = os.lstat(self._real(path))
        keys = ("st_mode", "st_size", "st_uid", "st_gid", "st_nlink", "st_atime", "st_mtime", "st_ctime")
        return {k: getattr(st, k) for k in keys}

    def readdir(self, path, fh):
        return [".", ".."] + os.listdir(self._real(path))

    def open(self, path, flags):
        return os.open(self._real(path), flags)

    def read(self, path, size, offset, fh):
        return os.pread(fh, size, offset)

    def write(self, path, data, offset, fh):
        if not self.failed and offset <= self.at < offset + len(data):
            self.failed = True
            with open(self.log, "w") as f:
                f.write(f"{offset} {len(data)}\n")
            raise fuse.FuseOSError(errno.EIO)
        return os.pwrite(fh, data, offset)

    def truncate(self, path, length, fh=None):
        os.truncate(self._real(path), length)

    def flush(self, path, fh):
        return 0

    def fsync(self, path, datasync, fh):
        return 0

    def release(self, path, fh):
        os.close(fh)
        return 0


if __name__ == "__main__":
    root, mountpoint, at, log = sys.argv[1:5]
    fuse.FUSE(Failing(root, int(at), log), mountpoint, foreground=True, nothreads=True)
