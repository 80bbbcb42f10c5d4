#!/usr/bin/env python3
"""Writes a program's man page with help2man from its --help, at build time.

CLI11's option groups ("[Option Group: Network]") become headings help2man understands, and a
program with subcommands gets a COMMANDS section made from each subcommand's own --help. The
hand-written sections (exit status, files, examples) come from an include file.

usage: manpage.py PROGRAM --description TEXT --include FILE.h2m --output FILE.1
"""
import argparse
import os
import re
import stat
import subprocess
import sys
import tempfile

from cli_help import subcommands


def run(program, *arguments):
    result = subprocess.run([program, *arguments], capture_output=True, text=True, check=False)
    if result.returncode != 0:
        sys.exit(f"manpage.py: {program} {' '.join(arguments)} exited {result.returncode}")
    return result.stdout


def plain_help(text):
    """--help without its one-line summary (the DESCRIPTION says more), option groups as
    headings and their nested "Options:" lines dropped."""
    lines = []
    all_lines = text.splitlines()
    usage = next((i for i, line in enumerate(all_lines) if line.startswith("Usage: ")), 0)
    for line in all_lines[usage:]:
        group = re.fullmatch(r"\[Option Group: (.+)\]", line)
        if group:
            lines.append(f"{group.group(1)}:")
        elif line.strip() != "Options:" or not line.startswith(" "):
            lines.append(line)
    return "\n".join(lines) + "\n"


def roff(text):
    """Text safe in a roff line: backslashes escaped, no line starting a request."""
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return "\\&" + text if text[:1] in (".", "'") else text



def entries(lines):
    """Option or positional lines ("  --wait MS   Listen this long") as (term, text) pairs;
    deeper-indented lines continue the text before them."""
    result = []
    for line in lines:
        entry = re.match(r"  (\S.*?)(?:\s{2,}(.*))?$", line)
        if entry and not line.startswith("   "):
            result.append([entry.group(1), entry.group(2) or ""])
        elif result and line.strip():
            result[-1][1] = (result[-1][1] + " " + line.strip()).strip()
    return result


def command_section(program_name, command, help_text):
    """One subcommand's --help as roff: summary, usage, options, footer."""
    out = [f'.SS "{program_name} {command}"']
    blocks, current = [], []
    for line in help_text.splitlines():
        if line.strip():
            current.append(line)
        elif current:
            blocks.append(current)
            current = []
    if current:
        blocks.append(current)
    for block in blocks:
        usage = next((i for i, line in enumerate(block) if line.startswith("Usage: ")), None)
        if usage is not None:
            out += [".PP"] + [roff(line.strip()) for line in block[:usage]]
            out += [".PP", ".B " + roff(block[usage][len("Usage: "):])]
            block = block[usage + 1:]
        if block and re.fullmatch(r"(Options|Positionals):", block[0].strip()):
            for term, text in entries(block[1:]):
                if term.startswith("-h,--help"):
                    continue
                out += [".TP", ".B " + roff(term), roff(text)]
        elif block:
            out += [".PP"] + text_lines(block)
    return "\n".join(out) + "\n"


def text_lines(block):
    """A paragraph as roff; its indented lines (a small table, an example) keep their layout."""
    out, verbatim = [], False
    for line in block:
        indented = line.startswith(" ")
        if indented != verbatim:
            out += [".RS", ".nf"] if indented else [".fi", ".RE"]
            verbatim = indented
        out.append(roff(line.strip() if not indented else line[2:]))
    if verbatim:
        out += [".fi", ".RE"]
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--description", required=True)
    parser.add_argument("--include", required=True)
    parser.add_argument("--output", required=True)
    options = parser.parse_args()

    name = os.path.basename(options.program)
    help_text = run(options.program, "--help")
    version_text = run(options.program, "--version")
    include = ""
    commands = subcommands(help_text)
    if commands:
        include += "[COMMANDS]\n" + "".join(
            command_section(name, command, run(options.program, command, "--help"))
            for command in commands)
    with open(options.include, encoding="utf-8") as handwritten:
        include += handwritten.read()

    # help2man asks a program for its texts; a stand-in under the same name answers with the
    # reworked ones.
    with tempfile.TemporaryDirectory() as scratch:
        for file_name, text in (("help", plain_help(help_text)), ("version", version_text),
                                ("include.h2m", include)):
            with open(os.path.join(scratch, file_name), "w", encoding="utf-8") as out:
                out.write(text)
        stand_in = os.path.join(scratch, name)
        with open(stand_in, "w", encoding="utf-8") as script:
            script.write('#!/bin/sh\ncase "$1" in --version) f=version;; *) f=help;; esac\n'
                         f'exec cat "{scratch}/$f"\n')
        os.chmod(stand_in, stat.S_IRWXU)
        subprocess.run(["help2man", "--no-info", "--section=1", "--name", options.description,
                        "--include", os.path.join(scratch, "include.h2m"),
                        "--output", options.output, stand_in], check=True)
    with open(options.output, encoding="utf-8") as page:
        text = page.read()
    with open(options.output, "w", encoding="utf-8") as page:
        page.write(fit_long_words(text))


def fit_long_words(page):
    """The options' texts hold examples without spaces (a device as
    "mac=...,name=AP-1,type=Bridge,..."): lines are left-aligned, since groff cannot stretch a
    line made of one such word to the right margin, and each comma inside a word is a place
    where it may break the word."""
    lines = []
    for line in page.splitlines():
        if not line.startswith((".", "'")):
            line = re.sub(r",(?=\S)", r",\\:", line)
        lines.append(line)
        if line.startswith(".TH "):
            lines.append(".ad l")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
