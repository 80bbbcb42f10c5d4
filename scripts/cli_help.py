"""Reading the --help texts that CLI11 prints, for the build-time man page and completion
writers."""
import re


def subcommands(help_text):
    """The subcommand names listed under "Subcommands:" in a --help text."""
    names, inside = [], False
    for line in help_text.splitlines():
        if line.rstrip() == "Subcommands:":
            inside = True
        elif inside and re.match(r"  \S", line):
            names.append(line.split()[0])
        elif inside and line.strip() and not line.startswith("   "):
            inside = False
    return names
