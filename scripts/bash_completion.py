#!/usr/bin/env python3
"""Writes a bash completion script for a program from its --help, at build time, so that it
always offers the options the program really has.

Completes subcommands, each subcommand's options (and the global ones), the choices an option
lists ("{text,csv}", or "text|csv" in place of its value's name), file names where an option or a positional takes a FILE or DIR, and
interface names for IFNAME options; a value of any other kind (a number, an address) gets no
suggestions.

usage: bash_completion.py PROGRAM OUTPUT
"""
import os
import re
import subprocess
import sys

from cli_help import subcommands


def help_text(program, *words):
    result = subprocess.run([program, *words, "--help"], capture_output=True, text=True,
                            check=False)
    if result.returncode != 0:
        sys.exit(f"bash_completion.py: {program} {' '.join(words)} --help failed")
    return result.stdout



def options(text):
    """(names, what the option takes) for each option line: "" for a flag, "choices:a b",
    "files", "interfaces" or "other"."""
    found = []
    for line in text.splitlines():
        entry = re.match(r"\s+((?:-\w,)?--[\w-]+)(?:\s(\S.*?))?(?:\s{2,}|$)", line)
        if not entry:
            continue
        names = entry.group(1).split(",")
        takes = entry.group(2) or ""
        choices = re.search(r"\{([^}]*)\}", takes)
        alternatives = re.match(r"[a-z-]+(?:\|[a-z-]+)+(?=\s|$)", takes)
        if choices:
            kind = "choices:" + " ".join(choices.group(1).split(","))
        elif alternatives:
            kind = "choices:" + " ".join(alternatives.group(0).split("|"))
        elif re.search(r"\b(FILE|DIR|PATH)\b", takes):
            kind = "files"
        elif "IFNAME" in takes or "--interface" in names:
            kind = "interfaces"
        elif takes and not takes.startswith(("Excludes", "Needs")):
            kind = "other"
        else:
            kind = ""
        found.append((names, kind))
    return found


def value_cases(scope, found):
    """The case arms that complete an option's value."""
    arms = []
    for names, kind in found:
        if not kind:
            continue
        pattern = "|".join(f"{scope}:{name}" for name in names)
        if kind.startswith("choices:"):
            action = f'COMPREPLY=($(compgen -W "{kind[len("choices:"):]}" -- "$cur"))'
        elif kind == "files":
            action = 'COMPREPLY=($(compgen -f -- "$cur"))'
        elif kind == "interfaces":
            action = 'COMPREPLY=($(compgen -W "$(ls /sys/class/net 2>/dev/null)" -- "$cur"))'
        else:
            action = "COMPREPLY=()"
        arms.append(f"    {pattern}) {action}; return ;;")
    return arms


def takes_files(text):
    """Whether a positional of this --help takes a file ("FILE TEXT:FILE REQUIRED")."""
    inside = False
    for line in text.splitlines():
        if line.strip() == "Positionals:":
            inside = True
        elif inside and not line.startswith("  "):
            inside = False
        elif inside and re.search(r"\b(FILE|DIR)\b", line.split("  ")[1] if "  " in line else ""):
            return True
    return False


def flat(*lists):
    names = [name for found in lists for names, _ in found for name in names]
    return " ".join(dict.fromkeys(names))


def main():
    program, output = sys.argv[1], sys.argv[2]
    name = os.path.basename(program)
    function = "_" + re.sub(r"\W", "_", name)
    top = help_text(program)
    commands = subcommands(top)
    global_options = options(top)

    arms = value_cases("*", global_options)
    option_lists, file_commands = [], []
    for command in commands:
        text = help_text(program, command)
        found = options(text)
        arms += value_cases(command, found)
        option_lists.append(f'    {command}) words="{flat(found, global_options)}" ;;')
        if takes_files(text):
            file_commands.append(command)

    script = f"""# bash completion for {name}; made from its --help when it was built.
{function}() {{
  local cur=${{COMP_WORDS[COMP_CWORD]}} prev=${{COMP_WORDS[COMP_CWORD-1]}}
  local commands="{" ".join(commands)}" command="" words i
  local file_commands="{" ".join(file_commands)}"
  for ((i = 1; i < COMP_CWORD; i++)); do
    if [[ -z $command && " $commands " == *" ${{COMP_WORDS[i]}} "* ]]; then
      command=${{COMP_WORDS[i]}}
    fi
  done
  case "${{command:-*}}:$prev" in
{chr(10).join(arms)}
  esac
  case "$command" in
{chr(10).join(option_lists)}
    *) words="{flat(global_options)}" ;;
  esac
  if [[ -z $command && -n $commands && $cur != -* ]]; then
    COMPREPLY=($(compgen -W "$commands" -- "$cur"))
  elif [[ $cur != -* && -n $command && " $file_commands " == *" $command "* ]]; then
    COMPREPLY=($(compgen -f -- "$cur"))
  else
    COMPREPLY=($(compgen -W "$words" -- "$cur"))
  fi
}}
complete -o filenames -F {function} {name}
"""
    with open(output, "w", encoding="utf-8") as out:
        out.write(script)


if __name__ == "__main__":
    main()
