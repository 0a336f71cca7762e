"""The tunnel program's configuration files as the kit ships them (for the Windows build of stunnel)
and as the Linux tunnel program runs them here: the one owner of which options exist only on Windows
and of the settings for running a configuration in the foreground. Used by the kit tools, the
bridges' Linux half and the tests.
"""

# Options of the Windows build only (the notification-area icon, the service); the Linux build
# refuses them.
WINDOWS_ONLY = {"taskbar", "service", "iconactive", "iconerror", "iconidle"}


def key(line):
    """The option's key in lower case, or "" for a comment, a section heading or a blank line."""
    text = line.strip()
    if not text or text[0] in ";#" or "=" not in text:
        return ""
    return text.partition("=")[0].strip().lower()


def for_linux(text, replace=None, debug="notice"):
    """text as the Linux tunnel program runs it here: in the foreground (its life is its starter's),
    without a pid file, logging to standard error at the debug level; the Windows-only options
    dropped and the values of replace (lower-case key -> value) put in."""
    replace = replace or {}
    out = ["foreground = yes", "pid =", "syslog = no", f"debug = {debug}"]
    for line in text.splitlines():
        name = key(line)
        if name in WINDOWS_ONLY:
            continue
        out.append(f"{line.partition('=')[0].strip()} = {replace[name]}" if name in replace else line)
    return "\n".join(out) + "\n"
