#!/usr/bin/python3
"""The files installed around the programs, checked against the programs.

    packaging_test.py help SOURCE_DIR MIGRATOR_CLI [MIGRATOR]
        The man pages and the bash completion describe what the programs'
        --help texts name: every command, option, exit code and MIGRATOR_*
        variable; and no option the programs no longer take.
    packaging_test.py files SOURCE_DIR VERSION
        The desktop entry and the metainfo pass their validators and agree on
        the program's id; the icons have the sizes their directories say; the
        man pages format without warnings; the newest release of the metainfo
        and of the changelog is VERSION.

Exits 77 (skipped) when a validator is not installed.
"""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "testlib"))
from checks import check, failures  # noqa: E402

APP_ID = "com.orvane.Migrator"
OPTION = re.compile(r"(?<![\w-])--?[A-Za-z][\w-]*")


def run(args, **kw):
    p = subprocess.run(args, capture_output=True, text=True, timeout=60, **kw)
    return p.returncode, p.stdout + p.stderr


# --- the programs' own words -------------------------------------------------

def cli_help(cli):
    """{command: text}: each command's lines of `migrator-cli --help` and the
    text of `migrator-cli COMMAND --help`."""
    _, top = run([cli, "--help"])
    texts, current = {}, None
    for line in top.split("Commands:", 1)[1].splitlines():
        m = re.match(r"^  (\S+)", line)
        if m:
            current = m.group(1)
            texts[current] = texts.get(current, "") + line + "\n"
        elif current:
            texts[current] += line + "\n"
    for command in texts:
        if not command.startswith("-"):
            texts[command] += run([cli, command, "--help"])[1]
    return texts


def options(text):
    return set(OPTION.findall(text))


def help_exit_codes(text):
    if "Exit code:" not in text:
        return None
    part = re.split(r"\n\s*\n", text.split("Exit code:", 1)[1])[0]
    return set(re.findall(r"(?:^|[:,])\s+(\d+)\s", ":" + part))


# --- the man pages -----------------------------------------------------------

def roff_text(line):
    line = re.sub(r"\\f(\[[^]]*\]|.)", "", line)
    return (line.replace("\\-", "-").replace("\\e", "\\").replace("\\&", "")
            .replace("\\(bu", "*"))


def man_sections(path):
    """{"SECTION": text, "SECTION/first word of subsection": text}."""
    sections, key, section = {}, None, None
    with open(path, encoding="utf-8") as f:
        for raw in f:
            line = roff_text(raw.rstrip("\n"))
            if line.startswith(".SH "):
                section = line[4:].strip().strip('"')
                key = section
            elif line.startswith(".SS "):
                title = line[4:].strip().strip('"').split()
                key = f"{section}/{title[0].rstrip(',')}" if title else section
            if key:
                sections[key] = sections.get(key, "") + line + "\n"
    return sections


def man_exit_codes(text):
    if "Exit status:" not in text:
        return None
    part = text.split("Exit status:", 1)[1]
    return set(re.findall(r"(?:^\.B |[:,] )(\d+)\b", ":" + part, re.M))


def check_cli_man(src, texts):
    page = "data/man/migrator-cli.1"
    sections = man_sections(os.path.join(src, page))
    described = {k.split("/", 1)[1] for k in sections if k.startswith("COMMANDS/")}
    commands = set(texts)
    for c in sorted(commands - described):
        check(False, f"`migrator-cli --help` lists the command {c}, but {page} has no "
                     f"subsection for it: add `.SS {c} ...` under COMMANDS")
    for c in sorted(described - commands):
        check(False, f"{page} describes a command {c} that `migrator-cli --help` does not "
                     f"list: remove its subsection or add the command to the help")
    for c in sorted(commands & described):
        if c.startswith("-"):
            continue
        man = sections[f"COMMANDS/{c}"]
        # Every command's --help is described once, under OPTIONS.
        said = options(texts[c]) - {"--help"}
        for o in sorted(said - options(man)):
            check(False, f"`migrator-cli {c} --help` names {o}, but the subsection "
                         f"`.SS {c}` of {page} does not: describe {o} there")
        for o in sorted(o for o in options(man) - said if o.startswith("--")):
            check(False, f"{page} describes {o} under {c}, but `migrator-cli {c} --help` "
                         f"does not name it: is the option gone?")
        codes = help_exit_codes(texts[c])
        if codes is not None:
            check(man_exit_codes(man) == codes,
                  f"`migrator-cli {c} --help` gives the exit codes {sorted(codes)}, the "
                  f"subsection `.SS {c}` of {page} lists {sorted(man_exit_codes(man) or [])} "
                  f"after 'Exit status:': make them agree")
    environment = sections.get("ENVIRONMENT", "")
    for v in sorted(set(re.findall(r"\bMIGRATOR_[A-Z_]+", "".join(texts.values())))):
        check(v in environment, f"`migrator-cli` help names {v}, but the ENVIRONMENT "
                                f"section of {page} does not")


def check_window_man(src, migrator):
    page = "data/man/migrator.1"
    said = options(run([migrator, "--help"])[1])
    man = man_sections(os.path.join(src, page)).get("OPTIONS", "")
    tags = set()
    lines = man.splitlines()
    for i, line in enumerate(lines[:-1]):
        if line.startswith(".TP"):
            tags |= options(lines[i + 1])
    for o in sorted(said - tags):
        check(False, f"`migrator --help` names {o}, but the OPTIONS section of {page} does "
                     f"not describe it (a .TP entry)")
    for o in sorted(tags - said - {"--help"}):
        check(False, f"{page} describes {o}, but `migrator --help` does not name it")


# --- the bash completion -----------------------------------------------------

def complete(src, words, cwd):
    """What the completion offers for the last of `words` (a list)."""
    script = os.path.join(src, "data/completion/migrator-cli")
    quoted = " ".join("'" + w.replace("'", "'\\''") + "'" for w in words)
    code = (f"source '{script}'; fn=$(complete -p migrator-cli | sed -n 's/.*-F \\([^ ]*\\).*/\\1/p'); "
            f"COMP_WORDS=({quoted}); COMP_CWORD=$((${{#COMP_WORDS[@]}} - 1)); "
            f"\"$fn\"; printf '%s\\n' \"${{COMPREPLY[@]}}\"")
    p = subprocess.run(["bash", "--norc", "--noprofile", "-c", code], cwd=cwd,
                       capture_output=True, text=True, timeout=60)
    check(p.returncode == 0 and not p.stderr, f"the completion runs for {words}: {p.stderr}")
    return {w for w in p.stdout.splitlines() if w}


def check_completion(src, texts):
    where = "data/completion/migrator-cli"
    with tempfile.TemporaryDirectory() as d:
        offered = complete(src, ["migrator-cli", ""], d)
        for c in sorted(set(texts) - offered):
            check(False, f"{where} does not offer the command {c} after 'migrator-cli '")
        for c in sorted(offered - set(texts)):
            check(False, f"{where} offers {c} after 'migrator-cli ', which the help does not list")
        for c in sorted(c for c in texts if not c.startswith("-")):
            said = options(texts[c])
            got = complete(src, ["migrator-cli", c, "-"], d)
            for o in sorted(said - got):
                check(False, f"`migrator-cli {c} --help` names {o}, but {where} does not offer "
                             f"it after 'migrator-cli {c} -': add it to the {c} options")
            for o in sorted(got - said - {"--help"}):
                check(False, f"{where} offers {o} after 'migrator-cli {c} -', which "
                             f"`migrator-cli {c} --help` does not name")
        subcommands = set(re.findall(r"^\s*(?:Usage:\s*)?(?:migrator-cli )?workbook (\w+)",
                                     texts.get("workbook", ""), re.M))
        check(complete(src, ["migrator-cli", "workbook", ""], d) == subcommands,
              f"{where} offers the workbook subcommands {sorted(subcommands)}")
        # Workbooks (and folders to find them in) after --target, folders after --to.
        open(os.path.join(d, "a book.xls"), "w").close()
        open(os.path.join(d, "notes.txt"), "w").close()
        os.mkdir(os.path.join(d, "sub"))
        got = complete(src, ["migrator-cli", "migrate", "--target", ""], d)
        check(got == {"a book.xls", "sub"}, f"--target offers workbooks and folders: {got}")
        got = complete(src, ["migrator-cli", "backup", "--target", "book.xls", "--to", ""], d)
        check(got == {"sub"}, f"--to offers folders: {got}")


# --- the desktop's files -----------------------------------------------------

def need(tool):
    if not shutil.which(tool):
        print(f"SKIPPED: {tool} is not installed (scripts/install-deps.sh installs it)")
        sys.exit(77)


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def check_files(src, version):
    for tool in ("desktop-file-validate", "appstreamcli", "groff"):
        need(tool)
    data = os.path.join(src, "data")
    desktop = os.path.join(data, APP_ID + ".desktop")
    metainfo = os.path.join(data, APP_ID + ".metainfo.xml")
    rc, out = run(["desktop-file-validate", desktop])
    check(rc == 0 and not out.strip(), f"desktop-file-validate {desktop}: {out}")
    rc, out = run(["appstreamcli", "validate", "--no-net", "--no-color", metainfo])
    check(rc == 0, f"appstreamcli validate {metainfo}: {out}")

    with open(desktop, encoding="utf-8") as f:
        entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
    check(entry.get("Icon") == APP_ID, f"the desktop entry's icon is {APP_ID}")
    root = ET.parse(metainfo).getroot()
    check(root.findtext("id") == APP_ID, f"the metainfo's id is {APP_ID}")
    check(root.findtext("launchable") == APP_ID + ".desktop",
          "the metainfo launches the desktop entry")
    release = root.find("releases/release")
    check(release is not None and release.get("version") == version,
          f"the newest release of {metainfo} is {version} (add its notes there)")
    with open(os.path.join(data, "debian/changelog"), encoding="utf-8") as f:
        first = f.readline()
    check(first.startswith(f"migrator ({version})"),
          f"the newest entry of data/debian/changelog is {version}: {first.strip()}")

    theme = os.path.join(data, "icons/hicolor")
    sizes = []
    for folder in sorted(os.listdir(theme)):
        path = os.path.join(theme, folder, "apps", APP_ID + (".svg" if folder == "scalable" else ".png"))
        if not check(os.path.isfile(path), f"the icon {path}"):
            continue
        if folder == "scalable":
            check(ET.parse(path).getroot().tag == "{http://www.w3.org/2000/svg}svg", f"{path} is SVG")
            continue
        n = int(folder.split("x")[0])
        sizes.append(n)
        check(png_size(path) == (n, n), f"{path} is a {n} x {n} PNG, not {png_size(path)}")
    check({16, 32, 48, 256} <= set(sizes), f"icons of 16 to 256 pixels: {sizes}")

    for page in ("migrator.1", "migrator-cli.1"):
        with open(os.path.join(data, "man", page), encoding="utf-8") as f:
            text = f.read().replace("@PROJECT_VERSION@", version)
        p = subprocess.run(["groff", "-man", "-ww", "-z", "-Tutf8"], input=text,
                           capture_output=True, text=True, timeout=60)
        check(p.returncode == 0 and not p.stderr.strip(), f"groff formats {page}: {p.stderr}")


def main():
    mode, src = sys.argv[1], os.path.abspath(sys.argv[2])
    if mode == "help":
        texts = cli_help(sys.argv[3])
        check(len(texts) >= 5, f"`migrator-cli --help` lists its commands: {sorted(texts)}")
        check_cli_man(src, texts)
        check_completion(src, texts)
        if len(sys.argv) > 4:
            check_window_man(src, sys.argv[4])
    else:
        check_files(src, sys.argv[3])
    if failures:
        print(f"{len(failures)} check(s) failed")
        return 1
    print("all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
