"""The stubs' record types against the records the modules really return:
each value must match the return annotation of its method in the .pyi, keys
in the declared order, every declared record type met at least once."""
import ast
import asyncio
import socket
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from fakes import SAMPLE_INFO, Completed, FakeClock, FakeDevice, FakeSubprocess, FakeU2

ostrel = pytest.importorskip("zelvik.core.ostrel")
pellora = pytest.importorskip("zelvik.core.pellora")
mirvane = pytest.importorskip("zelvik.core.mirvane")
zantho = pytest.importorskip("zelvik.core.zantho")

STUBS = Path(__file__).resolve().parents[1] / "zelvik" / "core"
SIMPLE = {"str": (str,), "int": (int,), "float": (int, float), "bool": (bool,), "bytes": (bytes,)}
INFO = dict(SAMPLE_INFO, display={"width": 1080})
XML = ('<hierarchy><node class="android.widget.FrameLayout" bounds="[0,0][1080,2340]">'
       '<node class="android.widget.EditText" text="Guest" resource-id="com.x:id/name" clickable="true" '
       'bounds="[100,200][980,320]" index="1"/></node></hierarchy>')


class Stubs:
    """TypedDicts, aliases and method return annotations of the four stubs."""

    def __init__(self):
        self.typeddicts, self.aliases, self.returns = {}, {}, {}
        for path in STUBS.glob("*.pyi"):
            for node in ast.parse(path.read_text(encoding="utf-8")).body:
                if isinstance(node, ast.ClassDef):
                    self._class(path.stem, node)
                elif isinstance(node, ast.Assign) and isinstance(node.value, ast.Call):
                    call, name = node.value, node.targets[0].id
                    if call.func.id == "TypedDict":  # functional form: one dict of keys
                        keys = call.args[1]
                        self.typeddicts[name] = ([], [(k.value, v, True) for k, v in zip(keys.keys, keys.values)])
                    else:  # a constrained TypeVar: one of its types
                        self.aliases[name] = ast.Subscript(ast.Name("Union"), ast.Tuple(call.args[1:]))
                elif isinstance(node, ast.Assign):
                    self.aliases[node.targets[0].id] = node.value
        self.met = set()

    def _class(self, module, node):
        bases = [b.id for b in node.bases]
        if bases and bases != ["Protocol"]:  # the stubs' other classes have no base
            total = not any(k.arg == "total" and not k.value.value for k in node.keywords)
            own = [(s.target.id, s.annotation, total and not self._head(s.annotation) == "NotRequired")
                   for s in node.body if isinstance(s, ast.AnnAssign)]
            self.typeddicts[node.name] = ([b for b in bases if b != "TypedDict"], own)
        for item in node.body:
            if isinstance(item, (ast.FunctionDef, ast.AsyncFunctionDef)):
                self.returns[(module, node.name, item.name)] = item.returns

    @staticmethod
    def _head(ann):
        return ann.value.id if isinstance(ann, ast.Subscript) else None

    def fields(self, name):
        bases, own = self.typeddicts[name]
        return [f for base in bases for f in self.fields(base)] + own

    def problem(self, value, ann, where):
        """None if `value` matches annotation `ann`, else what is wrong."""
        if isinstance(ann, ast.Constant):
            return None if value is ann.value else f"{where}: {value!r} is not None"
        if isinstance(ann, ast.Name):
            name = ann.id
            if name == "Any":
                return None
            if name in self.aliases:
                return self.problem(value, self.aliases[name], where)
            if name in self.typeddicts:
                return self.record_problem(value, name, where)
            return None if type(value) in SIMPLE[name] else f"{where}: {value!r} is not {name}"
        head, args = self._head(ann), ann.slice.elts if isinstance(ann.slice, ast.Tuple) else [ann.slice]
        if head == "Literal":
            ok = any(type(value) is type(a.value) and value == a.value for a in args)
            return None if ok else f"{where}: {value!r} is none of the literals"
        if head in ("Optional", "Union"):
            if head == "Optional" and value is None:
                return None
            found = [self.problem(value, a, where) for a in args]
            return None if None in found else " / ".join(found)
        if head == "NotRequired":
            return self.problem(value, args[0], where)
        if head == "List":
            if type(value) is not list:
                return f"{where}: not a list"
            return next(filter(None, (self.problem(v, args[0], f"{where}[{i}]") for i, v in enumerate(value))), None)
        if head == "Dict":
            if type(value) is not dict:
                return f"{where}: not a dict"
            return next(filter(None, (self.problem(k, args[0], where) or self.problem(v, args[1], f"{where}[{k!r}]")
                                      for k, v in value.items())), None)
        raise AssertionError(f"annotation {ast.dump(ann)} not understood")

    def record_problem(self, record, name, where):
        if type(record) is not dict:
            return f"{where}: not a dict"
        declared = self.fields(name)
        keys = [k for k, _, _ in declared]
        if list(record) != [k for k in keys if k in record]:
            return f"{where}: keys {list(record)} are not {name}'s {keys}"
        missing = [k for k, _, required in declared if required and k not in record]
        if missing:
            return f"{where}: {name} lacks {missing}"
        found = next(filter(None, (self.problem(record[k], ann, f"{where}[{k!r}]")
                                   for k, ann, _ in declared if k in record)), None)
        if found is None:
            self.met.add(name)
        return found


class Unreadable(ostrel.DeviceManager):
    """Its scan meets a failure outside the device query: scan error entries."""

    async def _get_device_info(self, device_id, ostrel):
        raise RuntimeError("unreadable")


def returned(mp):
    """(module, class, method, value) for every record kind, from the modules themselves."""
    out = []

    def run(obj, method, *args):
        value = getattr(obj, method)(*args)
        if asyncio.iscoroutine(value):
            value = asyncio.run(value)
        cls = next(c for c in type(obj).__mro__ if c.__module__.startswith("zelvik."))
        out.append((cls.__module__.rsplit(".", 1)[1], cls.__name__, method, value))
        return value

    proc = FakeSubprocess({("adb", "devices"): Completed(0, "List\nphone\tdevice\nplain\tdevice\nbad\tdevice\n")},
                          default=Completed(0, b"\x89PNG\r\n\x1a\n"))
    listeners = [socket.socket(), socket.socket()]  # a device, and an open port with no uiautomator2
    for listener in listeners:
        listener.bind(("127.0.0.1", 0))
        listener.listen()
    wifi, silent = (listener.getsockname()[1] for listener in listeners)
    u2 = FakeU2({"phone": FakeDevice(dict(INFO), app={"package": "com.x"}, hierarchy=XML),
                 "plain": FakeDevice({"display": {}}, hierarchy=""), f"127.0.0.1:{wifi}": FakeDevice(dict(INFO))})
    for name, fake in [("subprocess", proc), ("u2", u2), ("time", FakeClock())]:
        mp.setattr(ostrel, name, fake)
    mp.setattr(pellora, "subprocess", proc)
    try:
        manager = ostrel.DeviceManager()
        run(manager, "scan_devices")
        phone = manager.get_device("phone")
        run(phone, "get_device_info")
        run(ostrel.BaseDeviceManager("none"), "get_device_info")
        run(phone, "get_current_app")
        run(manager, "connect_device", "plain", False)
        run(manager, "get_device_status", "phone")
        for port in (wifi, silent):
            run(manager, "_scan_single_ip", "127.0.0.1", port)
        run(manager, "connect_wifi_device", "127.0.0.1", wifi)
        run(manager, "get_all_devices")
        run(Unreadable(), "scan_devices")
    finally:
        for listener in listeners:
            listener.close()

    analyzer = pellora.UIAnalyzer(manager)
    capture = run(analyzer, "capture_with_hierarchy", "phone")
    run(analyzer, "capture_with_hierarchy", "plain")
    tree = capture["hierarchy"]["children"][0]  # the dump's root node has no bounds
    element = run(analyzer, "find_element_at_position", tree, 500, 250)
    run(analyzer, "find_element_at_position", {"bounds": [0, 0, 1, 1], "children": []}, 9, 9)
    run(analyzer, "get_element_path", tree, element)
    run(analyzer, "_parse_xml_node", ET.fromstring(XML))

    generator = zantho.CodeGenerator()
    for node in (tree, element, {"text": "Log in to your account", "bounds": [0, 0, 5, 5]}):
        run(generator, "generate_element_code", node)

    recorder = mirvane.ActionRecorder()
    run(recorder, "start_recording", "phone")
    run(recorder, "start_recording")
    recorder.record_action("click", {"x": 1, "y": 2}, element, {"x": 1, "y": 2})
    recorder.record_action("key", {"key": "back"})
    run(recorder, "get_current_session_info")
    run(recorder, "stop_recording")
    run(recorder, "stop_recording")
    run(recorder, "export_session_data")
    return out


@pytest.fixture(scope="module")
def checked():
    stubs = Stubs()
    with pytest.MonkeyPatch.context() as mp:
        values = returned(mp)
    found = [(f"{m}.{c}.{f}", stubs.problem(v, stubs.returns[(m, c, f)], f"{c}.{f}()")) for m, c, f, v in values]
    return stubs, found


def test_returned_records_match_the_stubs(checked):
    stubs, found = checked
    assert [(where, p) for where, p in found if p] == []


def test_every_record_type_was_met(checked):
    stubs, _ = checked
    assert {name for name in stubs.typeddicts if not name.startswith("_")} == stubs.met
