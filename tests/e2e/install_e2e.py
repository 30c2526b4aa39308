#!/usr/bin/env python3
"""The installer package end to end under Wine (harness.py), in a prefix of its own made fresh.

The package of the tree under test (--bin: build/win32 or build/win64, which must be the one
TACTRA_WINE_ARCH runs) is made by scripts/package three times: with the programs' version and
with two newer ones (the fourth field, then the third). The scenarios run in order, each on what
the one before left: settings of no meaning refused, a silent install, the installed console
started as its shortcut starts it (which sets its start at logon), upgrades over it (the second
given settings) and a refused downgrade, the calibration program started as its shortcut starts
it, a silent uninstall, then an install given every setting, an upgrade given other ones and
the removal of that.
"""

import json
import ntpath
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

from console_e2e import FRAME_INFO, GLOBAL, RUN, STARTUP, Console, close_with_escape
from console_ids import IDC_OPT_APPLY, IDC_OPT_LOGON
from harness import (REPO, WINE, WINESERVER, Frame, check, probe_box, run_scenarios, run_windows, wait_until,
                     windows_path)
from kelvane_e2e import full_run

UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
PROGRAMS_KEY = r"HKLM\Software\Tactra"
MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
PROGRAMS = ("TactraConsole.exe", "TactraConsoleLangEN.dll", "TactraConsoleLangZH.dll", "Kelvane.exe",
            "KelvaneLangEN.dll", "KelvaneLangZH.dll", "tactractl.exe")
SHORTCUTS = {"TactraConsole.lnk": "TactraConsole.exe", "Kelvane.lnk": "Kelvane.exe"}
ERROR_INSTALL_FAILURE = 1603
# The settings an install may be given: the property, its value as reg.exe shows it (key, name).
SETTINGS = {"LANGUAGE": (GLOBAL, "Language"), "STARTATLOGON": (STARTUP, "LoadProgramOnStartup"),
            "MINIMIZEAFTERSTART": (STARTUP, "MinimizeWindowOnLoaded")}
LOGON = "logon entry"
SKIPPED = 77  # CTest's SKIP_RETURN_CODE for this test

# What the scenarios hand on to each other.
state = {}


def programs_version():
    with open(os.path.join(REPO, "resources", "version.h")) as f:
        for line in f:
            if line.startswith("#define TACTRA_VERSION_TEXT"):
                return [int(n) for n in line.split('"')[1].split(".")]
    raise RuntimeError("no TACTRA_VERSION_TEXT in resources/version.h")


def package_properties(msi):
    out = subprocess.run(["msiinfo", "export", msi, "Property"], capture_output=True, text=True,
                         check=True).stdout
    rows = (line.rstrip("\r").split("\t", 1) for line in out.splitlines()[3:])
    return {row[0]: row[1] for row in rows if len(row) == 2}


def unix_path(env, path):
    """A path on the prefix's drive C: as this machine sees it."""
    check(path[:3].upper() == "C:\\", "%s is not on drive C:" % path)
    return os.path.join(env.base["WINEPREFIX"], "drive_c", *[p for p in path[3:].split("\\") if p])


def msiexec(env, *argv, log):
    """msiexec with a verbose log in the artifacts; its exit code."""
    path = os.path.join(env.artifacts, log)
    return run_windows(env, ["msiexec", *argv, "/l*v", windows_path(path)], timeout=180)[0]


def uninstall_entries(env):
    """{product code: {value: data}} of the system's list of installed programs."""
    entries, current = {}, None
    for line in env.reg("query", UNINSTALL, "/s").splitlines():
        line = line.rstrip("\r")
        if line.startswith("HKEY_"):
            name = line.rsplit("\\", 1)[1]
            current = entries.setdefault(name, {}) if name != "Uninstall" else None
        elif current is not None and line.strip():
            parts = line.split(None, 2)
            current[parts[0]] = parts[2] if len(parts) == 3 else ""
    return entries


def our_entries(env):
    return {code: values for code, values in uninstall_entries(env).items()
            if values.get("DisplayName") == state["product"]}


def check_one_entry(env, package):
    entries = our_entries(env)
    check(list(entries) == [package["ProductCode"]], "installed programs' list holds %s, not only %s" %
          (sorted(entries), package["ProductCode"]))
    entry = entries[package["ProductCode"]]
    check(entry.get("DisplayVersion") == package["ProductVersion"], "entry of version %s, not %s" %
          (entry.get("DisplayVersion"), package["ProductVersion"]))
    check(entry.get("Publisher") == package["Manufacturer"], "publisher %r" % entry.get("Publisher"))
    check(entry.get("InstallLocation") == state["folder"] + "\\", "install location %r" % entry.get("InstallLocation"))


def settings(env):
    """The programs' settings and the logon entry, None for each missing."""
    found = {prop: env.reg_value(key, name) for prop, (key, name) in SETTINGS.items()}
    found[LOGON] = env.reg_value(RUN, "TactraConsole")
    return found


def given(before, properties):
    """The settings an install given `properties` leaves over `before`: each given one as the
    options page writes it (start at logon also sets or deletes the entry naming the installed
    console, quoted), the others untouched."""
    after = dict(before)
    for prop, value in properties.items():
        after[prop] = "0x%s" % value
    if "STARTATLOGON" in properties:
        after[LOGON] = '"%s\\TactraConsole.exe"' % state["folder"] if properties["STARTATLOGON"] == "1" else None
    return after


def install_given(env, package, properties, log):
    """Installs the package given these settings; checks the registry after it."""
    before = settings(env)
    code = msiexec(env, "/i", windows_path(package["path"]), "/qn",
                   *["%s=%s" % item for item in properties.items()], log=log)
    check(code == 0, "msiexec /i of %s with %s ended with %d" % (package["ProductVersion"], properties, code))
    check_one_entry(env, package)
    after, expected = settings(env), given(before, properties)
    check(after == expected, "settings after installing %s with %s over %s: %s, not %s" %
          (package["ProductVersion"], properties, before, after, expected))
    return after


def read_shortcut(path):
    """(target, working folder) of a shell link: the target's local path from its link
    information, the folder from its strings."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:4] == b"\x4c\x00\x00\x00", "%s is no shell link" % path)
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # an item list before the link information
        at += 2 + struct.unpack_from("<H", data, at)[0]
    check(flags & 0x2, "%s names no local path" % path)
    info_size, _, _, _, base_offset = struct.unpack_from("<5I", data, at)
    target = data[at + base_offset:data.index(b"\0", at + base_offset)].decode("latin-1")
    at += info_size
    working = None
    unicode = flags & 0x80
    for bit in (0x4, 0x8, 0x10, 0x20, 0x40):  # name, relative path, working folder, arguments, icon
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            size = count * (2 if unicode else 1)
            text = data[at + 2:at + 2 + size].decode("utf-16-le" if unicode else "latin-1")
            at += 2 + size
            if bit == 0x10:
                working = text.rstrip("\0")
    return target, working


# Scenarios ------------------------------------------------------------------------------------

# Values the options page never stores, each refused with its message; one property at a time,
# beside a good one, so that each condition is seen to refuse.
REFUSED = [
    {"LANGUAGE": "2", "STARTATLOGON": "1"},
    {"STARTATLOGON": "yes"},
    {"MINIMIZEAFTERSTART": "-1", "LANGUAGE": "0"},
]


def scenario_refused(env):
    package = state["packages"][0]
    for number, properties in enumerate(REFUSED):
        # With the basic interface, as Wine's installer writes no launch condition's message to
        # its log: the message box says it.
        log = os.path.join(env.artifacts, "refused-%d.log" % number)
        install = env.wine("msiexec", "/i", windows_path(package["path"]), "/qb",
                           *["%s=%s" % item for item in properties.items()], "/l*v", windows_path(log),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            box = probe_box(env, None, 20000)
            code = install.wait(timeout=60)
        finally:
            if install.poll() is None:
                install.kill()
        bad = [prop for prop, value in properties.items() if value not in ("0", "1")][0]
        check("text=%s must be 0" % bad in box, "the refusal of %s says %r" % (properties, box))
        check(code == ERROR_INSTALL_FAILURE & 0xFF, "msiexec /i with %s ended with %d" % (properties, code))
        check(not our_entries(env), "installed with %s" % properties)
        check(not os.path.exists(unix_path(env, state["folder"])), "files installed with %s" % properties)
        found = settings(env)
        check(set(found.values()) == {None}, "settings written with %s: %s" % (properties, found))
    return "%d installs refused, each saying which setting, nothing written" % len(REFUSED)


def scenario_install(env):
    package = state["packages"][0]
    code = msiexec(env, "/i", windows_path(package["path"]), "/qn", log="install.log")
    check(code == 0, "msiexec /i ended with %d" % code)
    state["installed"] = True
    folder = unix_path(env, state["folder"])
    check(os.path.isdir(folder), "no folder %s" % state["folder"])
    with zipfile.ZipFile(package["zip"]) as z:
        zipped = {os.path.basename(n): z.read(n) for n in z.namelist() if not n.endswith("/")}
    check(sorted(os.listdir(folder)) == sorted(zipped), "installed %s, the zip holds %s" %
          (sorted(os.listdir(folder)), sorted(zipped)))
    check(sorted(zipped) == sorted(PROGRAMS + ("README.txt",)), "the package holds %s" % sorted(zipped))
    for name, data in zipped.items():
        with open(os.path.join(folder, name), "rb") as f:
            check(f.read() == data, "installed %s differs from the zip's" % name)
    for name in PROGRAMS:
        with open(os.path.join(env.bin, name), "rb") as f:
            check(f.read() == zipped[name], "packaged %s is not the build's" % name)
    check(b"\r\n" in zipped["README.txt"] and state["version"] in zipped["README.txt"].decode(),
          "the read-me has no Windows line ends or no version")

    menu = unix_path(env, state["menu"])
    check(os.path.isdir(menu) and sorted(os.listdir(menu)) == sorted(SHORTCUTS),
          "the Start menu's folder holds %s" % (os.listdir(menu) if os.path.isdir(menu) else "nothing"))
    state["shortcuts"] = {}
    for link, program in SHORTCUTS.items():
        target, working = read_shortcut(os.path.join(menu, link))
        check(target == state["folder"] + "\\" + program, "%s points at %s" % (link, target))
        check((working or "").rstrip("\\") == state["folder"], "%s starts in %s" % (link, working))
        state["shortcuts"][program] = (target, working)

    check_one_entry(env, package)
    check_install_dir(env)
    found = settings(env)
    check(set(found.values()) == {None}, "the install given no settings wrote %s" % found)
    return "%d files, 2 shortcuts, entry %s %s" % (len(zipped), package["ProductCode"], package["ProductVersion"])


def check_install_dir(env):
    """The programs' folder where the fleet tool looks for the installed console."""
    recorded = env.reg_value(PROGRAMS_KEY, "InstallDir")
    check(recorded == state["folder"] + "\\", "InstallDir %r, the programs are in %s" % (recorded, state["folder"]))


def scenario_upgrades(env):
    check(state.get("installed"), "nothing installed: an earlier scenario failed")
    logon = '"%s\\TactraConsole.exe"' % state["folder"]
    check(env.reg_value(RUN, "TactraConsole") == logon, "no logon entry before the upgrades")
    older, fourth, third = state["packages"]
    # What the console wrote stays through an upgrade given nothing; one given other values of
    # two settings changes those two only.
    chosen = settings(env)
    other = {"LANGUAGE": "1", "MINIMIZEAFTERSTART": "1"}
    check(all(chosen[prop] != "0x1" for prop in other), "settings before the upgrades: %s" % chosen)
    for package, properties in ((fourth, {}), (third, other)):
        found = install_given(env, package, properties, "upgrade-%s.log" % package["ProductVersion"])
        check(sorted(os.listdir(unix_path(env, state["folder"]))) == sorted(PROGRAMS + ("README.txt",)),
              "files after the upgrade to %s" % package["ProductVersion"])
        check(found[LOGON] == logon, "logon entry after the upgrade to %s: %r" %
              (package["ProductVersion"], found[LOGON]))
        check_install_dir(env)
    code = msiexec(env, "/i", windows_path(older["path"]), "/qn", "LANGUAGE=0", log="downgrade.log")
    # Wine hands a program's exit code on to this machine in its low byte.
    check(code == ERROR_INSTALL_FAILURE & 0xFF, "installing %s over %s ended with %d" %
          (older["ProductVersion"], third["ProductVersion"], code))
    check_one_entry(env, third)
    check(settings(env) == found, "settings after the refused downgrade: %s, not %s" % (settings(env), found))
    return "%s -> %s -> %s (%s), one entry, logon entry kept; %s refused" % (
        older["ProductVersion"], fourth["ProductVersion"], third["ProductVersion"],
        " ".join("%s=%s" % item for item in other.items()), older["ProductVersion"])


def installed(env, program):
    """The program and its working folder (this machine's path) as its shortcut names them."""
    check(state.get("shortcuts"), "no shortcuts: an earlier scenario failed")
    target, working = state["shortcuts"][program]
    return target, unix_path(env, working)


def scenario_console(env):
    exe, folder = installed(env, "TactraConsole.exe")
    frame = Frame(env, 3)
    console = Console(env, frame.port, args=("0",), exe=exe, cwd=folder)
    try:
        check(console.wait_ready(), "the installed console did not come up")
        shown = console.texts("info", FRAME_INFO.keys())
        check(shown == FRAME_INFO, "information page shows %s" % shown)
        status = console.status()
        check(status == "Touch frame connected", "status line %r" % status)
        # Start at logon (Options page), as a user would: the console writes the logon entry.
        console.probe("tab", "3")
        time.sleep(0.5)
        console.probe("click", "options", str(IDC_OPT_LOGON))
        console.probe("click", "options", str(IDC_OPT_APPLY))
        wait_until(lambda: env.reg_value(RUN, "TactraConsole") is not None, 10, "no logon entry after Apply")
        entry = env.reg_value(RUN, "TactraConsole")
        check(entry == '"%s"' % exe, "logon entry %r" % entry)
        close_with_escape(console)
        # The installed tool beside it sees the same frame and the settings the console wrote.
        tool = ntpath.join(ntpath.dirname(exe), "tactractl.exe")
        said = {}
        for command in ("status", "programs"):
            # Through a file, as run_windows does: a pipe may be held open by the prefix's services.
            with tempfile.TemporaryFile() as out:
                code = subprocess.run([WINE, tool, "--json", command], env=env.transport.program_env(frame.port),
                                      cwd=folder, stdout=out, stderr=subprocess.DEVNULL, timeout=60).returncode
                out.seek(0)
                text = out.read().decode("utf-8", "replace")
            check(code == 0, "installed tactractl %s ended with %d: %s" % (command, code, text))
            said[command] = json.loads(text)
        check(said["status"]["bound"] and said["programs"]["start_at_logon"], "installed tactractl says %s" % said)
        return "'%s', the frame's information, logon entry %s, the tool agrees" % (status, entry)
    finally:
        console.kill()
        frame.stop()


def scenario_kelvane(env):
    exe, folder = installed(env, "Kelvane.exe")
    full_run(env, 4, "Return", language_args=("0",), exe=exe, cwd=folder)
    return "mode 4 run to its end, the result kept"


def uninstall(env, package, log):
    """Removes the package; checks that nothing of it is left but the settings."""
    before = settings(env)
    code = msiexec(env, "/x", windows_path(package["path"]), "/qn", log=log)
    check(code == 0, "msiexec /x ended with %d" % code)
    for path in (state["folder"], state["menu"]):
        check(not os.path.exists(unix_path(env, path)), "%s is still there" % path)
    check(not our_entries(env), "the installed programs' list still holds %s" % sorted(our_entries(env)))
    after = settings(env)
    check(after == dict(before, **{LOGON: None}), "settings after removal: %s, before it %s" % (after, before))
    check(env.reg_value(PROGRAMS_KEY, "InstallDir") is None, "InstallDir stayed after the removal")
    return after


def scenario_uninstall(env):
    check(state.get("installed"), "nothing installed: an earlier scenario failed")
    check(env.reg_value(RUN, "TactraConsole") is not None, "no logon entry to remove: an earlier scenario failed")
    before = settings(env)
    uninstall(env, state["packages"][-1], "uninstall.log")
    state["installed"] = False
    # The frame's and the programs' own settings stay for the next install.
    check(before["LANGUAGE"] == "0x1" and before["STARTATLOGON"] == "0x1", "settings before removal: %s" % before)
    return "no file, shortcut, entry or logon entry; settings kept"


def scenario_given(env):
    check(state.get("installed") is False, "the programs are still installed: an earlier scenario failed")
    older, _, newer = state["packages"]
    # A logon entry the programs' zip left, naming its own folder: STARTATLOGON=0 removes it.
    env.reg("add", RUN, "/v", "TactraConsole", "/t", "REG_SZ", "/d", r"C:\Tools\TactraConsole.exe", "/f")
    check(env.reg_value(RUN, "TactraConsole") is not None, "no logon entry planted")
    every = {"LANGUAGE": "0", "STARTATLOGON": "0", "MINIMIZEAFTERSTART": "0"}
    first = install_given(env, older, every, "given-install.log")
    check(set(first.values()) == {"0x0", None}, "settings after the install given %s: %s" % (every, first))
    # Over one given them, an upgrade given others: the one left out keeps what the first wrote.
    other = {"LANGUAGE": "1", "STARTATLOGON": "1"}
    second = install_given(env, newer, other, "given-upgrade.log")
    uninstall(env, newer, "given-uninstall.log")
    return "%s: %s; %s: %s; removed, logon entry gone" % (
        older["ProductVersion"], " ".join("%s=%s" % item for item in every.items()), newer["ProductVersion"],
        ", ".join("%s %s" % (prop, value) for prop, value in second.items()))


SCENARIOS = [
    ("settings of no meaning refused", scenario_refused),
    ("silent install", scenario_install),
    ("installed console", scenario_console),
    ("upgrades, a refused downgrade", scenario_upgrades),
    ("installed calibration program", scenario_kelvane),
    ("silent uninstall", scenario_uninstall),
    ("install, upgrade given settings", scenario_given),
]


def prepare(env):
    tree = os.path.basename(os.path.dirname(env.bin))
    arch = os.environ.get("TACTRA_WINE_ARCH", "32")
    if tree != "win" + arch:
        print("the packages of %s cannot be tried where the %s-bit build runs" % (tree, arch))
        return False

    # The programs' version, then two newer ones: the fourth field alone (which Windows
    # Installer does not compare), then the third.
    base = programs_version()
    versions = [base, base[:3] + [base[3] + 1], base[:2] + [base[2] + 1, 0]]
    out = os.path.join(env.artifacts, "packages")
    shutil.rmtree(out, ignore_errors=True)
    state["packages"] = []
    for numbers in versions:
        version = ".".join(map(str, numbers))
        made = subprocess.run([os.path.join(REPO, "scripts", "package"), tree, "--no-build", "--out", out,
                               "--version", version], capture_output=True, text=True)
        if made.returncode != 0:
            print("scripts/package %s --version %s failed: %s" % (tree, version, made.stderr.strip()))
            return False
        msi = os.path.join(out, "Tactra-%s-%s.msi" % (version, tree))
        package = package_properties(msi)
        package.update(path=msi, zip=msi[:-4] + ".zip")
        state["packages"].append(package)
    first = state["packages"][0]
    state["version"] = first["ProductVersion"]
    state["product"] = first["ProductName"]
    state["folder"] = "C:\\Program Files\\" + first["Manufacturer"]
    state["menu"] = MENU + "\\" + first["Manufacturer"]

    # A prefix of the test's own, made fresh as scripts/with-wine makes one; no menu entries on
    # this machine for the shortcuts it gets.
    prefix = os.path.join(env.artifacts, "install-prefix")
    subprocess.run([WINESERVER, "-k"], env=dict(env.base, WINEPREFIX=prefix), check=False, capture_output=True)
    shutil.rmtree(prefix, ignore_errors=True)
    env.base["WINEPREFIX"] = prefix
    env.base["WINEDLLOVERRIDES"] = "mscoree,mshtml,winemenubuilder.exe="
    made = subprocess.run([os.path.join(REPO, "scripts", "with-wine"), "true"], env=env.base, capture_output=True,
                          text=True, timeout=300)
    if made.returncode != 0:
        print("no fresh prefix: %s" % made.stderr.strip())
        return False
    return True


def main():
    missing = [tool for tool in ("wixl", "msiinfo", "msibuild", "zip") if not shutil.which(tool)]
    if missing:
        print("SKIP: %s missing (msitools and zip; scripts/setup installs them)" % ", ".join(missing))
        return SKIPPED

    def finish(env, code):
        if "install-prefix" in env.base.get("WINEPREFIX", ""):
            subprocess.run([WINESERVER, "-k"], env=env.base, check=False)
            if code == 0:  # a failed run keeps its prefix to look into
                shutil.rmtree(env.base["WINEPREFIX"], ignore_errors=True)

    return run_scenarios(SCENARIOS, prepare, finish=finish)


if __name__ == "__main__":
    sys.exit(main())
