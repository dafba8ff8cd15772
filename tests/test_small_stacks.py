"""Deep trees on threads with small stacks: the native recursion ends in
RecursionError (or a correct result) before the C stack does, whatever the
stack size. Each stack size runs in a child process, so a crash fails the
test instead of ending the test run."""
import subprocess
import sys
import textwrap

import pytest

import sanitizer

for name in ("pellora", "zantho"):
    pytest.importorskip(f"zelvik.core.{name}")

CHILD = textwrap.dedent(r'''
    import sys, threading
    import xml.etree.ElementTree as ET
    from zelvik.core import pellora, zantho

    stack_size, depth = int(sys.argv[1]), int(sys.argv[2])
    sys.setrecursionlimit(10 * depth + 1000)  # only the stack bounds the recursion
    analyzer = pellora.UIAnalyzer(None)

    def chain(depth):
        """A record tree `depth` levels deep and its deepest record."""
        top = node = {"bounds": [0, 0, 100, 100], "level": 0, "children": []}
        for level in range(1, depth):
            child = {"bounds": [0, 0, 100, 100], "level": level, "children": []}
            node["children"].append(child)
            node = child
        return top, node

    def element_chain(depth):
        top = node = ET.Element("node", bounds="[0,0][100,100]")
        for _ in range(1, depth):
            node = ET.SubElement(node, "node", bounds="[0,0][100,100]")
        return top

    def levels(record):
        count = 0
        while record is not None:
            count += 1
            record = record["children"][0] if record["children"] else None
        return count

    top, leaf = chain(depth)
    checks = {
        "find_element_at_position": (lambda: analyzer.find_element_at_position(top, 5, 5),
                                     lambda found: found is leaf),
        "get_element_path": (lambda: analyzer.get_element_path(top, dict(leaf)),
                             lambda path: len(path) == depth and path[-1] is leaf),
        "_parse_xml_node": (lambda: analyzer._parse_xml_node(element_chain(depth)),
                            lambda record: levels(record) == depth),
        "generate_element_code": (lambda: zantho.CodeGenerator().generate_element_code(top),
                                  lambda code: isinstance(code, dict)),
    }

    def run():
        for name, (call, correct) in checks.items():
            print(name, end=" ", flush=True)
            try:
                result = call()
            except RecursionError:
                print("RecursionError", flush=True)
            else:
                print("ok" if correct(result) else "WRONG", flush=True)

    if stack_size:
        threading.stack_size(stack_size)
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    else:
        run()
''')


@pytest.mark.parametrize("stack_size, depth", [
    (64 * 1024, 900), (128 * 1024, 900), (256 * 1024, 900), (512 * 1024, 3000),
    (1024 * 1024, 3000), (8 * 1024 * 1024, 20000), (0, 20000),  # 0: the main thread
])
def test_deep_trees_on_any_stack_raise_recursion_error_or_succeed(stack_size, depth):
    run = subprocess.run([sys.executable, "-c", CHILD, str(stack_size), str(depth)],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, (run.returncode, run.stdout, run.stderr[-2000:])
    lines = dict(line.split() for line in run.stdout.splitlines())
    assert list(lines) == ["find_element_at_position", "get_element_path", "_parse_xml_node",
                           "generate_element_code"], run.stdout
    assert set(lines.values()) <= {"ok", "RecursionError"}, run.stdout


def test_small_trees_still_succeed_on_small_stacks():
    # 40 levels fit in 256 KiB; a sanitizer build's frames take about twice the room
    stack = 256 * 1024 * (2 if sanitizer.ACTIVE else 1)
    run = subprocess.run([sys.executable, "-c", CHILD, str(stack), "40"],
                         capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, (run.returncode, run.stderr[-2000:])
    assert all(line.split()[1] == "ok" for line in run.stdout.splitlines()), run.stdout
