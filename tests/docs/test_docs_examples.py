"""Every example in README.md and docs/*.md runs as written.

The fenced blocks of each page run in the page's order, in a fresh folder
that holds a copy of the repository's examples/ and a link to the build folder (so
`examples/accelerogram.txt` and `./build/src/velmar` mean there what they
mean at the top of the repository), as a reader running them one after the
other would:

- ```python blocks run in one interpreter per page, sharing their names;
- ```sh blocks run with bash -e, `python3` being this interpreter;
- ```cpp blocks holding `int main` are compiled against the built library
  and run.

A block preceded by the line `<!-- not run by the test: REASON -->` (a comment
a reader of the rendered page does not see) is not run: a Python one is still
compiled, so that its syntax is checked. Blocks in other languages (cmake,
json, plain text) are shown, not run.

The build folder is taken from VELMAR_BUILD_DIR (CTest sets it), the package
from PYTHONPATH.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[2]
PAGES = [ROOT / "README.md"] + sorted((ROOT / "docs").glob("*.md"))
SKIP_MARK = re.compile(r"^<!--\s*not run by the test:\s*\S.*-->\s*$")
FENCE = re.compile(r"^```(\S*)\s*$")
RUN_LANGUAGES = {"python", "sh", "cpp"}


def fenced_blocks(path):
    """(language, first line number of the code, code, skipped) of every fenced block."""
    blocks, lines = [], path.read_text(encoding="utf-8").split("\n")
    i = 0
    while i < len(lines):
        opening = FENCE.match(lines[i])
        if not opening:
            i += 1
            continue
        end = i + 1
        while end < len(lines) and lines[end].rstrip() != "```":
            end += 1
        assert end < len(lines), f"{path.name}:{i + 1}: a fenced block that is never closed"
        skipped = i > 0 and bool(SKIP_MARK.match(lines[i - 1]))
        blocks.append((opening.group(1), i + 2, "\n".join(lines[i + 1:end]) + "\n", skipped))
        i = end + 1
    return blocks


def test_every_page_is_found_and_parsed():
    names = {p.name for p in PAGES}
    for name in ("README.md", "deck.md", "library.md", "python.md", "equivalent_linear.md", "batches.md",
                 "performance.md", "building.md"):
        assert name in names
    runnable = sum(1 for p in PAGES for lang, _, _, skip in fenced_blocks(p) if lang in RUN_LANGUAGES and not skip)
    assert runnable >= 15


def test_block_parser_reads_languages_lines_and_marks(tmp_path):
    page = tmp_path / "page.md"
    page.write_text("text\n```python\nx = 1\n```\n<!-- not run by the test: a cluster -->\n```sh\nfalse\n```\n"
                    "```\nplain\n```\n")
    assert fenced_blocks(page) == [("python", 3, "x = 1\n", False), ("sh", 7, "false\n", True),
                                   ("", 10, "plain\n", False)]


def test_every_local_link_of_the_pages_exists():
    for page in PAGES:
        text = page.read_text(encoding="utf-8")
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target) or target.startswith("#"):
                continue
            path = (page.parent / target.split("#")[0]).resolve()
            assert path.exists(), f"{page.name}: the link {target} leads nowhere"


def build_dir():
    path = os.environ.get("VELMAR_BUILD_DIR")
    if not path:
        pytest.skip("VELMAR_BUILD_DIR is not set (run through ctest)")
    return Path(path)


def library_archive(build):
    found = sorted(build.rglob("libvelmar.a"))
    return found[0] if found else None


# Runs in the page's folder: python blocks exec'd in one namespace, with line
# numbers of the page in tracebacks; sh blocks through bash; cpp blocks
# compiled and run. Each block's start is printed, so a failure names it.
RUNNER = textwrap.dedent("""
    import json, os, subprocess, sys
    page, blocks, compile_cmd = json.load(open(sys.argv[1]))
    namespace = {"__name__": "__main__"}
    for number, (lang, line, code, skipped) in enumerate(blocks):
        where = f"{page}:{line}"
        print(f"--- {where} ({lang}{', not run' if skipped else ''})", flush=True)
        if lang == "python":
            compiled = compile("\\n" * (line - 1) + code, page, "exec")
            if not skipped:
                exec(compiled, namespace)
        elif skipped:
            continue
        elif lang == "sh":
            result = subprocess.run(["bash", "-e", "-o", "pipefail", "-c", code])
            if result.returncode != 0:
                sys.exit(f"{where}: the sh block exited with status {result.returncode}")
        elif lang == "cpp":
            source = f"example_{number}.cpp"
            with open(source, "w") as f:
                f.write(f"#line {line} \\"{page}\\"\\n" + code)
            subprocess.run(compile_cmd[0] + [source, "-o", f"example_{number}"] + compile_cmd[1], check=True)
            result = subprocess.run([f"./example_{number}"])
            if result.returncode != 0:
                sys.exit(f"{where}: the C++ example exited with status {result.returncode}")
""")


@pytest.mark.parametrize("page", PAGES, ids=lambda p: p.name)
def test_examples_of_the_page_run(page, tmp_path):
    blocks = [b for b in fenced_blocks(page)
              if b[0] in {"python", "sh"} or (b[0] == "cpp" and "int main" in b[2])]
    if not blocks:
        pytest.skip("no example on this page")
    build = build_dir()
    # A copy, not a link: some examples write beside their input (a JSON
    # analysis writes its CSV next to it), and the repository stays untouched.
    shutil.copytree(ROOT / "examples", tmp_path / "examples")
    (tmp_path / "build").symlink_to(build)
    bin_dir = tmp_path / ".bin"
    bin_dir.mkdir()
    (bin_dir / "python3").symlink_to(sys.executable)

    compile_cmd = [[], []]
    if any(lang == "cpp" and not skip for lang, _, _, skip in blocks):
        archive = library_archive(build)
        compiler = shutil.which(os.environ.get("CXX", "c++"))
        if archive is None or compiler is None:
            pytest.skip("no C++ compiler or no built libvelmar.a for the C++ examples")
        compile_cmd = [[compiler, "-std=c++20", "-O1", f"-I{ROOT / 'include'}"], [str(archive), "-pthread"]]

    spec = tmp_path / ".blocks.json"
    spec.write_text(json.dumps([page.name, blocks, compile_cmd]))
    # The examples run elsewhere: a relative PYTHONPATH is made absolute.
    pythonpath = os.pathsep.join(os.path.abspath(p) for p in os.environ.get("PYTHONPATH", "").split(os.pathsep) if p)
    env = dict(os.environ, PATH=f"{bin_dir}{os.pathsep}{os.environ.get('PATH', '')}", PYTHONPATH=pythonpath,
               MPLBACKEND="Agg")
    result = subprocess.run([sys.executable, "-c", RUNNER, str(spec)], cwd=tmp_path, env=env,
                            capture_output=True, text=True, timeout=240)
    assert result.returncode == 0, (f"an example of {page.name} failed\n--- stdout\n{result.stdout[-6000:]}"
                                    f"\n--- stderr\n{result.stderr[-6000:]}")
