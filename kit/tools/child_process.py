"""Child processes that never outlive the program that started them (Linux only): the one place for
tying a child to its parent's life and for ending it.
"""
import ctypes
import signal
import subprocess

_PR_SET_PDEATHSIG, _PR_SET_CHILD_SUBREAPER = 1, 36


def end_with_parent(sig=signal.SIGTERM):
    """As preexec_fn of subprocess.Popen: the child gets sig when its parent ends, even when the
    parent is killed (a test runner's timeout), so that nothing it started stays behind."""
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_PDEATHSIG, sig)


def adopt_orphans():
    """Makes this process the one that inherits its descendants whose parent ended (Wine's and
    nsenter's double forks), so that it can find and end them."""
    ctypes.CDLL(None, use_errno=True).prctl(_PR_SET_CHILD_SUBREAPER, 1)


def end(process, seconds=5):
    """Ends process: SIGTERM, then SIGKILL when it is still running after seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(seconds)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
