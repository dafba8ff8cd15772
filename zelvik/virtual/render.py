"""Draws a screen tree as the PNG a device's screencap would give.

Every node is drawn from its class and state (text fields, buttons, switches,
check boxes, icons, texts), refined by its drawing hints, so any dumped tree
gets a plausible picture and the built-in screen its own colours.
"""
import io
from functools import lru_cache

from PIL import Image, ImageDraw, ImageFont

from .screen import CONTAINER, ON_SURFACE, PRIMARY, SURFACE, VARIANT, Node

OUTLINE = "#747775"


@lru_cache(maxsize=None)
def font(size: int):
    """DejaVu Sans where installed (wide coverage), else Pillow's own font."""
    try:
        return ImageFont.truetype("DejaVuSans.ttf", size)
    except OSError:
        pass
    try:
        return ImageFont.load_default(size=size)
    except (TypeError, ImportError):  # Pillow without FreeType: fixed bitmap font
        return ImageFont.load_default()


def _fit(draw, value: str, width: int, face) -> str:
    """`value` cut with an ellipsis to fit in `width` pixels."""
    if draw.textlength(value, font=face) <= width:
        return value
    while value and draw.textlength(value + "…", font=face) > width:
        value = value[:-1]
    return value + "…"


def _label(draw, box, value, size, colour, centred=False):
    left, top, right, bottom = box
    if not value or right - left < 8:
        return
    face = font(max(8, size))
    value = _fit(draw, value, right - left, face)
    x = (left + right) / 2 if centred else left
    draw.text((x, (top + bottom) / 2), value, fill=colour, font=face, anchor="mm" if centred else "lm")


def _glyph(draw, box, glyph, colour):
    """Small vector icons; anything else is a letter on a round badge."""
    left, top, right, bottom = box
    w, h = right - left, bottom - top
    cx, cy, r = (left + right) / 2, (top + bottom) / 2, min(w, h) / 2
    if glyph == "wifi":
        draw.pieslice((cx - r, cy - r * 0.9, cx + r, cy + r * 1.1), 225, 315, fill=colour)
    elif glyph == "bars":
        for i in range(4):
            x = left + i * w / 4
            draw.rectangle((x + 1, bottom - h * (i + 1) / 4, x + w / 4 - 2, bottom), fill=colour)
    elif glyph == "battery":
        draw.rounded_rectangle((cx - r * 0.45, top + 2, cx + r * 0.45, bottom), radius=3, outline=colour, width=3)
        draw.rectangle((cx - r * 0.45, top + h * 0.3, cx + r * 0.45, bottom), fill=colour)
    elif glyph == "back":
        draw.polygon([(cx - r * 0.35, cy), (cx + r * 0.3, cy - r * 0.4), (cx + r * 0.3, cy + r * 0.4)], outline=colour, width=4)
    elif glyph == "home":
        draw.ellipse((cx - r * 0.38, cy - r * 0.38, cx + r * 0.38, cy + r * 0.38), outline=colour, width=4)
    elif glyph == "recents":
        draw.rounded_rectangle((cx - r * 0.32, cy - r * 0.32, cx + r * 0.32, cy + r * 0.32), radius=4, outline=colour, width=4)
    elif glyph == "search":
        draw.ellipse((cx - r * 0.5, cy - r * 0.5, cx + r * 0.2, cy + r * 0.2), outline=colour, width=4)
        draw.line((cx + r * 0.1, cy + r * 0.1, cx + r * 0.55, cy + r * 0.55), fill=colour, width=5)
    elif glyph == "gear":
        draw.ellipse((cx - r * 0.55, cy - r * 0.55, cx + r * 0.55, cy + r * 0.55), outline=colour, width=7)
        draw.ellipse((cx - r * 0.12, cy - r * 0.12, cx + r * 0.12, cy + r * 0.12), fill=colour)
    else:
        draw.ellipse((left, top, right, bottom), fill=colour)
        _label(draw, box, glyph[:1], int(h * 0.55), "#FFFFFF", centred=True)


def _draw(draw, n: Node):
    box = n.bounds
    left, top, right, bottom = box
    if right <= left or bottom <= top:
        return
    style, kind = n.style, n.cls.rsplit(".", 1)[-1]
    h = bottom - top
    if "fill" in style:
        inset = style.get("inset", 0)
        draw.rounded_rectangle((left + inset, top, right - inset, bottom), radius=style.get("radius", 0), fill=style["fill"])
    if kind == "EditText":
        value, colour = n.text or n.hint, ON_SURFACE if n.text else VARIANT
        if not style.get("bare"):
            focused = "focused" in n.flags
            draw.rounded_rectangle(box, radius=12, fill="#FFFFFF", outline=PRIMARY if focused else OUTLINE,
                                   width=4 if focused else 2)
            left += 28
        if "password" in n.flags and n.text:
            r = h * 0.09
            for i in range(min(len(n.text), int((right - left) / (3 * r)) - 1)):
                x = left + r + i * 3 * r
                draw.ellipse((x - r, (top + bottom) / 2 - r, x + r, (top + bottom) / 2 + r), fill=ON_SURFACE)
        else:
            _label(draw, (left, top, right - 16, bottom), value, style.get("size", int(h * 0.4)),
                   style.get("colour", colour))
    elif kind == "Button":
        if style.get("variant") != "text":
            draw.rounded_rectangle(box, radius=h // 2, fill=PRIMARY)
        _label(draw, box, n.text, int(h * 0.4), PRIMARY if style.get("variant") == "text" else "#FFFFFF", centred=True)
    elif kind == "Switch":
        on = "checked" in n.flags
        draw.rounded_rectangle(box, radius=h // 2, fill=PRIMARY if on else CONTAINER, outline=None if on else OUTLINE, width=3)
        knob = right - h // 2 if on else left + h // 2
        r = h * 0.36 if on else h * 0.25
        draw.ellipse((knob - r, (top + bottom) / 2 - r, knob + r, (top + bottom) / 2 + r), fill="#FFFFFF" if on else OUTLINE)
    elif kind == "CheckBox":
        side = min(h, 48)
        square = (left + 8, top + (h - side) / 2, left + 8 + side, top + (h + side) / 2)
        if "checked" in n.flags:
            draw.rounded_rectangle(square, radius=6, fill=PRIMARY)
            s = square
            draw.line([(s[0] + side * 0.22, s[1] + side * 0.52), (s[0] + side * 0.42, s[1] + side * 0.72),
                       (s[0] + side * 0.8, s[1] + side * 0.3)], fill="#FFFFFF", width=5)
        else:
            draw.rounded_rectangle(square, radius=6, outline=OUTLINE, width=4)
        _label(draw, (left + side + 32, top, right, bottom), n.text, int(h * 0.45), ON_SURFACE)
    elif kind == "Spinner":
        draw.rounded_rectangle(box, radius=12, fill="#FFFFFF", outline=OUTLINE, width=2)
        draw.polygon([(right - 64, top + h * 0.42), (right - 32, top + h * 0.42), (right - 48, top + h * 0.6)], fill=VARIANT)
    elif kind in ("ImageView", "ImageButton"):
        _glyph(draw, box, style.get("glyph", ""), style.get("colour", OUTLINE))
    elif n.text:
        _label(draw, box, n.text, style.get("size", int(h * 0.7)), style.get("colour", ON_SURFACE))
    for child in n.children:
        _draw(draw, child)


def render_png(root: Node, width: int, height: int) -> bytes:
    """The PNG bytes of the screen tree on a `width` x `height` screen."""
    image = Image.new("RGB", (width, height), root.style.get("fill", SURFACE))
    draw = ImageDraw.Draw(image)
    for window in root.children:
        _draw(draw, window)
    out = io.BytesIO()
    image.save(out, format="PNG", compress_level=1)  # fast, as screencap writes it
    return out.getvalue()
