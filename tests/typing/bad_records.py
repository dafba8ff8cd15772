"""Wrong uses of the core's records: each marked line must fail mypy --strict
with the error code in its comment."""
from __future__ import annotations

from typing import TYPE_CHECKING

from zelvik.core import ostrel
from zelvik.core.mirvane import ActionRecorder
from zelvik.core.ostrel import BaseDeviceManager, DeviceManager
from zelvik.core.pellora import UIAnalyzer
from zelvik.core.zantho import CodeGenerator, ElementRecord  # expect: attr-defined

if TYPE_CHECKING:
    from zelvik.core.pellora import CaptureFailure, CaptureSuccess


def code_result(element: dict[str, object]) -> None:
    result = CodeGenerator().generate_element_code(element)
    x: int = result["full_code"]  # expect: assignment
    result["selectors"][0]["stability"] = "solid"  # expect: typeddict-item
    result["element_info"]["bounds"].append("0")  # expect: arg-type
    print(x, result["summary"])  # expect: typeddict-item


def capture(result: CaptureSuccess | CaptureFailure) -> str:
    return result["screenshot"]  # expect: typeddict-item


def tree(node: ElementRecord) -> int:
    return node["children"][0]["bounds"]  # expect: return-value


def devices(manager: DeviceManager, connection: BaseDeviceManager) -> None:
    UIAnalyzer(42)  # expect: arg-type
    UIAnalyzer(connection)  # expect: arg-type
    for record in manager.get_all_devices():
        print(record["id"])  # expect: typeddict-item
    print(connection.get_device_info()["sdk"] + 1)  # expect: operator
    print(ostrel.subprocess)  # expect: attr-defined


def session(recorder: ActionRecorder) -> None:
    info = recorder.get_current_session_info()
    n: str = info["action_count"]  # expect: assignment
    recorder.import_session_data([])  # expect: arg-type
    print(n, recorder.stop_recording()["duration"])  # expect: typeddict-item
