#!/usr/bin/env python3
"""The README's usage sections (the source of the man pages) and the bash
completion agree with what tarnctl, pagersim and regsvr accept.

  agreement_test.py README COMPLETION TARNCTL PAGERSIM REGSVR VERSION

Checks, each both ways where it can go wrong both ways:
- the subcommands of `tarnctl --help` are the ones in the README synopsis
  and the ones the completion offers;
- every option a subcommand's --help lists is in the README and is offered
  by the completion after that subcommand, which offers nothing else;
- every --option the README's tarnctl section names exists (in tarnctl or,
  for `tarnctl sim`, in pagersim);
- pagersim's and regsvr's options are exactly those in their README sections;
- every program prints the project's version.
"""
import os
import re
import subprocess
import sys

readme_path, completion, tarnctl, pagersim, regsvr, version = sys.argv[1:7]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)


def run(*args):
    return subprocess.run(args, capture_output=True, text=True).stdout


def options(text):
    return set(re.findall(r"(?:^|[\s,\[(`*])(--?[a-z][a-z0-9-]*)", text, re.M))


def section(name):
    text = open(readme_path, encoding="utf-8").read()
    m = re.search(r"^## " + name + r"\n(.*?)(?=^## |\Z)", text, re.M | re.S)
    return m.group(1) if m else ""


def subcommands(help_text):
    part = help_text.split("Subcommands:", 1)[1]
    return [m.group(1) for m in re.finditer(r"^  ([a-z]+)\s", part, re.M)]


def complete(words):
    """What the completion offers for the command line `words` (the last
    word is the one being completed)."""
    script = (
        "source /usr/share/bash-completion/bash_completion 2>/dev/null || exit 3\n"
        f"source '{completion}'\n"
        f"COMP_WORDS=({' '.join(repr(w) for w in words)})\n"
        "COMP_CWORD=$(( ${#COMP_WORDS[@]} - 1 ))\n"
        'COMP_LINE="${COMP_WORDS[*]}"; COMP_POINT=${#COMP_LINE}\n'
        "_tarnctl tarnctl \"${COMP_WORDS[COMP_CWORD]}\" \"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        'printf "%s\\n" "${COMPREPLY[@]}"\n')
    r = subprocess.run(["bash", "-c", script], capture_output=True, text=True,
                       env=dict(os.environ, PATH=os.path.dirname(pagersim) + ":" +
                                os.environ.get("PATH", "")))
    if r.returncode == 3:
        sys.exit("agreement test: bash-completion is not installed")
    return set(r.stdout.split())


tarnctl_help = run(tarnctl, "--help")
subs = subcommands(tarnctl_help)
# Commands of other programs quoted in the text (`sudo ...`) are not ours.
manual = re.sub(r"`sudo [^`]*`", "", section("tarnctl"))
synopsis = re.search(r"### Synopsis\n(.*?)\n###", manual, re.S).group(1)
check(set(subs) == set(re.findall(r"^    tarnctl ([a-z]+)", synopsis, re.M)),
      f"README synopsis subcommands differ from tarnctl --help: {subs}")
top = complete(["tarnctl", ""])
check(set(subs) <= top and not (top - set(subs) - options(tarnctl_help)),
      f"completion of subcommands: {sorted(top)} vs {subs}")

anywhere = {"-q", "--quiet", "--no-window"}
# The tarnctl section may name the options of the tools it points to.
known = options(tarnctl_help) | options(run(pagersim, "--help")) | options(run(regsvr, "--help"))
for sub in subs:
    if sub == "sim":
        offered = complete(["tarnctl", "sim", "--"])
        check(offered == {o for o in options(run(pagersim, "--help")) if o.startswith("--")},
              f"completion of tarnctl sim: {sorted(offered)}")
        continue
    sub_options = options(run(tarnctl, sub, "--help"))
    known |= sub_options
    for option in sub_options - {"-h", "--help"}:
        check(re.search(r"(?<![\w-])" + re.escape(option) + r"(?![\w-])", manual) is not None,
              f"tarnctl {sub} {option} is not in the README")
    offered = complete(["tarnctl", sub, "-"])
    check(offered == sub_options | anywhere,
          f"completion of tarnctl {sub} -: offers {sorted(offered)}, "
          f"expected {sorted(sub_options | anywhere)}")
for option in options(manual):
    check(option in known, f"the README's tarnctl section names {option}, which nothing accepts")

for program, name in ((pagersim, "pagersim"), (regsvr, "regsvr")):
    accepted = options(run(program, "--help"))
    documented = options(section(name))
    check(accepted == documented,
          f"{name}: --help and README differ: only in --help {sorted(accepted - documented)}, "
          f"only in README {sorted(documented - accepted)}")

for program, name in ((tarnctl, "tarnctl"), (pagersim, "pagersim"), (regsvr, "regsvr")):
    printed = run(program, "--version").strip()
    check(printed == f"{name} {version}", f"{name} --version printed {printed!r}")

for f in failures:
    print("FAIL:", f)
print("agreement test: " + ("failed" if failures else "passed"))
sys.exit(1 if failures else 0)
