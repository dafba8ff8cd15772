"""The annotated screenshot: every element's bounds drawn on the capture,
the selected element and the chosen point highlighted."""
import io
from typing import Optional, Tuple

from PIL import Image, ImageDraw

CLICKABLE = (30, 142, 62, 200)
OTHER = (26, 115, 232, 150)
HIGHLIGHT = (217, 48, 37, 255)
HIGHLIGHT_FILL = (217, 48, 37, 60)


def _boxes(element: dict):
    """(bounds, clickable) of every element with an area, windows first."""
    bounds = element.get("bounds") or []
    if len(bounds) == 4 and bounds[2] > bounds[0] and bounds[3] > bounds[1]:
        yield bounds, bool(element.get("clickable"))
    for child in element.get("children", []):
        yield from _boxes(child)


def annotate(png: bytes, hierarchy: dict, geometry: dict, selected: Optional[dict] = None,
             point: Optional[Tuple[int, int]] = None) -> bytes:
    """The screenshot `png` with the bounds of the tree drawn on it. Bounds are
    in the device's UI coordinates (`geometry` is the capture's screen-geometry
    record); they are scaled when the picture has another size."""
    image = Image.open(io.BytesIO(png)).convert("RGBA")
    sx = image.width / (geometry.get("ui_width") or image.width)
    sy = image.height / (geometry.get("ui_height") or image.height)

    def box(bounds):
        left, top, right, bottom = bounds
        return (left * sx, top * sy, right * sx - 1, bottom * sy - 1)

    overlay = Image.new("RGBA", image.size, (0, 0, 0, 0))
    draw = ImageDraw.Draw(overlay)
    for bounds, clickable in _boxes(hierarchy):
        draw.rectangle(box(bounds), outline=CLICKABLE if clickable else OTHER, width=3 if clickable else 2)
    if selected and len(selected.get("bounds") or []) == 4:
        draw.rectangle(box(selected["bounds"]), fill=HIGHLIGHT_FILL, outline=HIGHLIGHT, width=8)
    if point is not None:
        x, y, r = point[0] * sx, point[1] * sy, 18
        draw.ellipse((x - r, y - r, x + r, y + r), outline=HIGHLIGHT, width=5)
        draw.line((x - 2 * r, y, x + 2 * r, y), fill=HIGHLIGHT, width=3)
        draw.line((x, y - 2 * r, x, y + 2 * r), fill=HIGHLIGHT, width=3)
    out = io.BytesIO()
    Image.alpha_composite(image, overlay).convert("RGB").save(out, format="PNG")
    return out.getvalue()
