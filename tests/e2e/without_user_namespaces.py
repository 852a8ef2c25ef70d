#!/usr/bin/env python3
"""Runs COMMAND as UID as on a machine without user namespaces (a chroot, a container): in a user
namespace of its own whose limit on further ones is 0, so none is left to COMMAND. Where user
namespaces are refused already (CI's fresh root) it only changes the user. Needs root.

Usage: without_user_namespaces.py UID COMMAND...
"""
import ctypes
import os
import signal
import sys

CLONE_NEWUSER = 0x10000000

user, command = int(sys.argv[1]), sys.argv[2:]
ready, go = os.pipe(), os.pipe()
child = os.fork()
if child == 0:
    os.close(ready[0])
    os.close(go[1])
    unshared = ctypes.CDLL(None, use_errno=True).unshare(CLONE_NEWUSER) == 0
    os.write(ready[1], b"1" if unshared else b"0")
    if unshared:
        os.read(go[0], 1)  # the maps are written
        with open("/proc/sys/user/max_user_namespaces", "w") as limit:
            limit.write("0")
    os.setgroups([])
    os.setresgid(user, user, user)
    os.setresuid(user, user, user)
    os.execv(command[0], command)
os.close(ready[1])
os.close(go[0])
# Only a process outside the namespace may map more than its own id.
# Without a namespace the child waits for nothing: it may have exec'd and closed its end already.
if os.read(ready[0], 1) == b"1":
    for name in ("uid_map", "gid_map"):
        with open("/proc/%d/%s" % (child, name), "w") as map_:
            map_.write("0 0 1\n%d %d 1\n" % (user, user))
    os.write(go[1], b"1")
os.close(go[1])
for number in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
    signal.signal(number, lambda received, _: os.kill(child, received))
sys.exit(os.waitstatus_to_exitcode(os.waitpid(child, 0)[1]))
