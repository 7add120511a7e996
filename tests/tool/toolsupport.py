"""Shared helpers of the end-to-end tests of the vantel tool (not a test itself)."""
import json
import os
import pwd
import shutil
import stat
import signal
import subprocess
import tempfile
import time

UNPRIVILEGED_USER = "vantel-e2e"


def run(vantel, *args, expect=0, user=None, stdin=None, timeout=120, **kwargs):
    """Runs vantel with args; checks the exit status; answers the completed process."""
    preexec = None
    if user is not None:
        uid, gid = user

        def preexec():
            os.setgroups([])
            os.setgid(gid)
            os.setuid(uid)
    proc = subprocess.run([vantel, *map(os.fsencode, args)], capture_output=True, timeout=timeout,
                          preexec_fn=preexec, stdin=stdin, **kwargs)
    if expect is not None and proc.returncode != expect:
        raise AssertionError(f"vantel {args}: exit {proc.returncode}, expected {expect}\n"
                             f"stdout: {proc.stdout[:600]!r}\nstderr: {proc.stderr[:600]!r}")
    return proc


def interrupted(vantel, *args, signals=(signal.SIGINT,), after=0.6, timeout=30):
    """Runs vantel with args and sends it signals, all at once, after `after` seconds (the
    command should still be scanning then); answers (exit status, stdout, stderr)."""
    proc = subprocess.Popen([vantel, *map(os.fsencode, args)], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    time.sleep(after)
    for sig in signals:
        proc.send_signal(sig)
    out, err = proc.communicate(timeout=timeout)
    return proc.returncode, out, err


def run_json(vantel, *args, expect=0, **kwargs):
    proc = run(vantel, *args, expect=expect, **kwargs)
    return json.loads(proc.stdout.decode("utf-8", errors="strict"))


def unprivileged_user():
    """(uid, gid) of a user without root's rights, creating one when running as root; None
    when running as root and no user can be made. Answers (own uid, gid) when not root."""
    if os.geteuid() != 0:
        return os.getuid(), os.getgid()
    try:
        entry = pwd.getpwnam(UNPRIVILEGED_USER)
    except KeyError:
        useradd = shutil.which("useradd") or "/usr/sbin/useradd"
        if not os.path.exists(useradd):
            return None
        made = subprocess.run([useradd, "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                               UNPRIVILEGED_USER], capture_output=True)
        if made.returncode != 0:
            return None
        entry = pwd.getpwnam(UNPRIVILEGED_USER)
    return entry.pw_uid, entry.pw_gid


def locked_folder_setup(test, vantel, prefix):
    """For a test that runs the tool as an unprivileged user on folders root has locked: the
    user, a temporary folder removed after the test, and a copy of the tool that user can run.
    Skips the test unless it runs as root with such a user."""
    user = unprivileged_user()
    if user is None or os.getuid() != 0:
        test.skipTest("needs root to lock folders against an unprivileged user")
    tmp = make_temp_tree(prefix)
    test.addCleanup(tmp.cleanup)
    return user, tmp, world_readable_copy(vantel, tmp.name)


def world_readable_copy(vantel, folder):
    """A copy of the tool that any user can run (the build folder may not be open to all)."""
    target = os.path.join(folder, "vantel")
    shutil.copy2(vantel, target)
    os.chmod(target, 0o755)
    return target


def write(path, size=0, data=None):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data if data is not None else b"x" * size)


def du_size(path, usage=False):
    """What du -sb (or du -s -B1 with usage) counts below path: every entry's own size, folders
    and links (not followed) included, a file with several links once."""
    seen = set()
    total = 0
    for folder, dirs, files in os.walk(path):
        for name in [None] + dirs + files:
            status = os.lstat(folder if name is None else os.path.join(folder, name))
            if (name is not None and stat.S_ISDIR(status.st_mode)) or (status.st_ino, status.st_dev) in seen:
                continue  # a folder is counted as its walk enters it
            seen.add((status.st_ino, status.st_dev))
            total += status.st_blocks * 512 if usage else status.st_size
    return total


def make_temp_tree(prefix):
    tmp = tempfile.TemporaryDirectory(prefix=prefix)
    os.chmod(tmp.name, 0o755)
    return tmp


def make_chain(root, levels, file_bytes):
    """root/d/d/.../d/f with levels folders d, made through descriptors (no long paths)."""
    os.mkdir(root)
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    for _ in range(levels):
        os.mkdir("d", dir_fd=fd)
        inner = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = inner
    out = os.open("f", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
    os.write(out, b"x" * file_bytes)
    os.close(out)
    os.close(fd)


def remove_chain(root):
    """Removes what make_chain made, bottom up, holding one descriptor at a time."""
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    depth = 0
    while True:
        try:
            inner = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        except FileNotFoundError:
            break
        os.close(fd)
        fd, depth = inner, depth + 1
    for name in os.listdir(fd):
        os.unlink(name, dir_fd=fd)
    for _ in range(depth):
        outer = os.open("..", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = outer
        os.rmdir("d", dir_fd=fd)
    os.close(fd)
    os.rmdir(root)
