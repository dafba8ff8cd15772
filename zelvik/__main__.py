"""Zelvik workbench entry point: a sample element's generated code."""
from zelvik.core.zantho import CodeGenerator

SAMPLE = {
    "class": "android.widget.Button",
    "text": "Log in",
    "resource_id": "com.example:id/login",
    "content_desc": "",
    "bounds": [100, 200, 301, 260],
    "clickable": True,
}


def main() -> int:
    print(CodeGenerator().generate_element_code(SAMPLE)["full_code"])
    return 0


if __name__ == "__main__":
    raise SystemExit(main())
