#!/usr/bin/env python3
"""Installs the build tree into a temporary DESTDIR and checks what a desktop finds there: both
programs (they start from where they were installed), the desktop entry, the icon and the manual
page of quillmark-cli.

usage: check_install.py BUILD_DIR [--gui]   (--gui: the desktop program was built)
"""
import os
import shutil
import subprocess
import sys
import tempfile

PREFIX = "/usr/local"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def desktop_entry(path):
    values = {}
    with open(path, encoding="utf-8") as f:
        lines = [l.rstrip("\n") for l in f]
    if not lines or lines[0] != "[Desktop Entry]":
        fail(path + ": does not start with [Desktop Entry]")
    for line in lines[1:]:
        if line and not line.startswith("#"):
            key, _, value = line.partition("=")
            values[key] = value
    return values


def main():
    build = os.path.abspath(sys.argv[1])
    gui = "--gui" in sys.argv[2:]
    with tempfile.TemporaryDirectory(prefix="qm-install-") as dest:
        env = dict(os.environ, DESTDIR=dest)
        run = subprocess.run(["cmake", "--install", build, "--prefix", PREFIX], env=env,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        if run.returncode != 0:
            fail("cmake --install failed:\n" + run.stdout)
        root = dest + PREFIX

        programs = ["quillmark-cli"] + (["quillmark"] if gui else [])
        for program in programs:
            path = os.path.join(root, "bin", program)
            if not os.access(path, os.X_OK):
                fail(path + " is not installed as a program")
        # The installed program runs with the installed core library, not the build tree's.
        version = subprocess.run([os.path.join(root, "bin", "quillmark-cli"), "--version"],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                 env=dict(os.environ, LD_LIBRARY_PATH=""))
        if version.returncode != 0 or not version.stdout.strip():
            fail("installed quillmark-cli --version: " + version.stdout)
        ldd = subprocess.run(["ldd", os.path.join(root, "bin", "quillmark-cli")], stdout=subprocess.PIPE,
                             text=True).stdout
        core = [l for l in ldd.splitlines() if "libquillmark" in l]
        if not core or dest not in core[0]:
            fail("quillmark-cli does not load the installed core library:\n" + ldd)

        entry_path = os.path.join(root, "share", "applications", "quillmark.desktop")
        if not os.path.isfile(entry_path):
            fail(entry_path + " missing")
        entry = desktop_entry(entry_path)
        expected = {"Type": "Application", "Exec": "quillmark %F", "MimeType": "application/pdf;",
                    "Categories": "Office;Publishing;Qt;", "Icon": "quillmark", "Name": "Quillmark"}
        for key, value in expected.items():
            if entry.get(key) != value:
                fail("desktop entry %s=%r, expected %r" % (key, entry.get(key), value))
        validator = shutil.which("desktop-file-validate")
        if validator:
            check = subprocess.run([validator, entry_path], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                   text=True)
            if check.returncode != 0 or check.stdout.strip():
                fail("desktop-file-validate: " + check.stdout)

        icon = os.path.join(root, "share", "icons", "hicolor", "scalable", "apps", "quillmark.svg")
        if not os.path.isfile(icon):
            fail(icon + " missing")
        import xml.etree.ElementTree as ET
        try:
            svg = ET.parse(icon).getroot()
        except ET.ParseError as e:
            fail("icon is not well-formed: %s" % e)
        if not svg.tag.endswith("}svg"):
            fail("icon root is " + svg.tag)

        man = os.path.join(root, "share", "man", "man1", "quillmark-cli.1")
        if not os.path.isfile(man):
            fail(man + " missing")
        text = open(man, encoding="utf-8").read()
        if not text.startswith(".TH QUILLMARK-CLI 1") or "@PROJECT_VERSION@" in text:
            fail("manual page header: " + text.splitlines()[0])
        # Every subcommand the program offers is described.
        helptext = subprocess.run([os.path.join(root, "bin", "quillmark-cli"), "--help"], stdout=subprocess.PIPE,
                                  text=True).stdout
        for command in ("convert", "build", "info", "inspect"):
            if command not in helptext or ".B %s" % command not in text:
                fail("subcommand %s missing from the manual page or the help" % command)
        if shutil.which("groff"):
            render = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z", man], stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, text=True)
            if render.returncode != 0 or render.stdout.strip():
                fail("groff: " + render.stdout)
    print("installed: " + ", ".join(programs) + ", desktop entry, icon, manual page")


if __name__ == "__main__":
    main()
