"""Typed use of the core's records; checked with mypy --strict, never run."""
from __future__ import annotations

import json
from typing import TYPE_CHECKING, Any, Dict, List, Literal, Optional, Union

from typing_extensions import assert_type

from zelvik.core.mirvane import get_mirvane
from zelvik.core.ostrel import DeviceManager
from zelvik.core.pellora import UIAnalyzer
from zelvik.core.zantho import CodeGenerator

if TYPE_CHECKING:
    from zelvik.core.mirvane import SessionExport
    from zelvik.core.ostrel import ConnectedDeviceRecord, DeviceInfoRecord, WifiConnectedRecord
    from zelvik.core.pellora import ElementRecord, ScreenGeometry
    from zelvik.core.zantho import ElementCodeResult, SelectorRecord


def walk(node: ElementRecord, depth: int = 0) -> List[str]:
    lines = [f"{'  ' * depth}{node['class']} {node['bounds']} #{node['index']}"]
    for child in node["children"]:
        lines += walk(child, depth + 1)
    return lines


def describe(geometry: ScreenGeometry) -> str:
    assert_type(geometry["aspect_ratio"], float)
    if geometry["orientation"] == "portrait":
        return f"{geometry['width']}x{geometry['height']}"
    return geometry["rotation_name"]


def best_code(result: ElementCodeResult) -> str:
    best: SelectorRecord = result["selectors"][0]
    assert_type(best["priority"], int)
    summary = result["element_info"]
    assert_type(summary["class"], str)
    assert_type(summary["editable"], bool)
    clickable = [op["code"] for op in result["operations"] if op["applicable"]]
    return best["code"] + "\n".join(clickable) + result["full_code"]


def label(record: DeviceInfoRecord | ConnectedDeviceRecord | WifiConnectedRecord) -> str:
    sdk = record.get("sdk")
    level = sdk if isinstance(sdk, int) else 0
    if "auto_screenshot" in record:
        return f"connected {record.get('model')} {level}"
    return f"{record['id']} {record.get('resolution')} {level}"


async def session(serial: str) -> Optional[str]:
    manager = DeviceManager()
    await manager.initialize()
    for entry in await manager.scan_devices():
        if entry["status"] == "error":
            assert_type(entry["error"], str)
            continue
        if "current_app" in entry:
            assert_type(entry["current_app"], Dict[str, Any])
        label(entry)
    cached = [label(record) for record in manager.get_all_devices()]
    wifi = await manager.connect_wifi_device("127.0.0.1")
    assert_type(wifi["connection_type"], Literal["wifi"])
    for found in await manager.discover_wifi_devices("127.0.0.1-127.0.0.3"):
        if found["status"] == "wifi_available":
            assert_type(found["sdk"], Union[int, str, None])
        else:
            assert_type(found["error"], str)
    status = await manager.get_device_status(serial)
    assert_type(status["connected"], bool)

    analyzer = UIAnalyzer(manager)
    capture = await analyzer.capture_with_hierarchy(serial)
    if not capture["success"]:
        return capture["error"]
    describe(capture["device_info"])
    tree = capture["hierarchy"]
    walk(tree)
    element = analyzer.find_element_at_position(tree, 540, 960)
    if element is None:
        return None
    assert_type(element["children"][0], "ElementRecord")
    path = analyzer.get_element_path(tree, element)
    assert_type(path, List["ElementRecord"])

    generator = CodeGenerator()
    code = best_code(generator.generate_element_code(element))
    raw: Dict[str, Any] = {"text": "Log in", "bounds": [0, 0, 10, 10]}
    generator.generate_element_code(raw, {"mode": "plain"})
    batch = generator.generate_batch_code([p for p in path] + [raw])
    batch += generator.generate_batch_code(path)
    assert_type(analyzer.find_element_at_position(raw, 1, 1), Optional[Dict[str, Any]])

    recorder = get_mirvane()
    started = recorder.start_recording(serial)
    if started["success"]:
        assert_type(started["start_time"], str)
    recorder.record_action("click", {"x": 1, "y": 2}, element)
    stopped = recorder.stop_recording()
    if stopped["success"]:
        assert_type(stopped["action_count"], int)
    exported: SessionExport = recorder.export_session_data()
    for action in exported["actions"]:
        assert_type(action["timestamp"], float)
    saved = json.dumps(exported)
    recorder.import_session_data(exported)
    recorder.import_session_data(json.loads(saved))
    return code + batch + "".join(cached) + recorder.generate_script()
