"""Small vector pictures rendered into Windows .ico files (Python 3 standard library only).

Each icon holds 16x16 and 32x32 pictures twice: 4-bit (the 16 standard colours, hard edges,
for Windows 98 and 4-bit image lists) and 32-bit with alpha (smooth edges at 32x32, for later
systems). Every picture carries its AND mask, so a system that ignores alpha still shows it
right. Shapes are given in a 32-unit design space and scaled to the picture size.
"""
import math
import struct

# The 16 standard colours, in their usual palette order.
VGA = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = VGA[0:8]
GREY, RED, LIME, YELLOW, BLUE, FUCHSIA, AQUA, WHITE = VGA[8:16]


class Canvas:
    """RGBA picture; shapes are painted over it with coverage from sub-pixel samples."""

    def __init__(self, size, samples):
        self.size = size
        self.scale = size / 32.0
        self.samples = samples  # per axis; 1 for hard-edged 4-bit pictures
        self.pixels = [[(0, 0, 0, 0.0)] * size for _ in range(size)]

    def _paint(self, inside, colour, box):
        x0, y0, x1, y1 = (v * self.scale for v in box)
        n = self.samples
        for py in range(max(0, int(y0) - 1), min(self.size, int(math.ceil(y1)) + 1)):
            for px in range(max(0, int(x0) - 1), min(self.size, int(math.ceil(x1)) + 1)):
                hits = 0
                for sy in range(n):
                    for sx in range(n):
                        x = (px + (sx + 0.5) / n) / self.scale
                        y = (py + (sy + 0.5) / n) / self.scale
                        hits += inside(x, y)
                a = hits / (n * n)
                if a == 0:
                    continue
                r, g, b, da = self.pixels[py][px]
                out = a + da * (1 - a)
                mix = lambda s, d: (s * a + d * da * (1 - a)) / out
                self.pixels[py][px] = (mix(colour[0], r), mix(colour[1], g), mix(colour[2], b),
                                       out)

    def rect(self, x0, y0, x1, y1, colour):
        self._paint(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour, (x0, y0, x1, y1))

    def round_rect(self, x0, y0, x1, y1, radius, colour):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
        self._paint(inside, colour, (x0, y0, x1, y1))

    def ellipse(self, cx, cy, rx, ry, colour):
        self._paint(lambda x, y: ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1, colour,
                    (cx - rx, cy - ry, cx + rx, cy + ry))

    def polygon(self, points, colour):
        def inside(x, y):
            hit = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    hit = not hit
                j = i
            return hit
        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self._paint(inside, colour, (min(xs), min(ys), max(xs), max(ys)))

    def outlined_rect(self, x0, y0, x1, y1, line, fill, width=1.0):
        self.rect(x0, y0, x1, y1, line)
        self.rect(x0 + width, y0 + width, x1 - width, y1 - width, fill)


def _nearest(colour):
    return min(range(16), key=lambda i: sum((colour[k] - VGA[i][k]) ** 2 for k in range(3)))


def _rows_bottom_up(size):
    return range(size - 1, -1, -1)


def _mask(canvas, threshold):
    size = canvas.size
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for y in _rows_bottom_up(size):
        row = bytearray(row_bytes)
        for x in range(size):
            if canvas.pixels[y][x][3] < threshold:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def _header(size, bpp, image_bytes, colours):
    return struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bpp, 0, image_bytes, 0, 0,
                       colours, 0)


def _image_4bit(canvas):
    size = canvas.size
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in VGA)
    row_bytes = ((size * 4 + 31) // 32) * 4
    xor = bytearray()
    for y in _rows_bottom_up(size):
        row = bytearray(row_bytes)
        for x in range(size):
            r, g, b, a = canvas.pixels[y][x]
            index = _nearest((r, g, b)) if a >= 0.5 else 0
            row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor += row
    mask = _mask(canvas, 0.5)
    body = palette + bytes(xor) + mask
    return _header(size, 4, len(xor) + len(mask), 16) + body


def _image_32bit(canvas):
    size = canvas.size
    xor = bytearray()
    for y in _rows_bottom_up(size):
        for x in range(size):
            r, g, b, a = canvas.pixels[y][x]
            xor += struct.pack("<BBBB", round(b), round(g), round(r), round(a * 255))
    mask = _mask(canvas, 0.5)
    return _header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def render(draw, size, smooth):
    canvas = Canvas(size, 4 if smooth else 1)
    draw(canvas)
    return canvas


def write_ico(path, draw):
    """Writes one .ico with the four pictures of `draw(canvas)`."""
    entries = []
    for bpp in (4, 32):
        for size in (16, 32):
            # Smooth edges only where there are pixels enough for them; at 16x16 they blur.
            canvas = render(draw, size, smooth=bpp == 32 and size >= 32)
            data = _image_4bit(canvas) if bpp == 4 else _image_32bit(canvas)
            entries.append((size, bpp, data))
    out = bytearray(struct.pack("<HHH", 0, 1, len(entries)))
    offset = 6 + 16 * len(entries)
    for size, bpp, data in entries:
        colours = 16 if bpp == 4 else 0
        out += struct.pack("<BBBBHHII", size, size, colours, 0, 1, bpp, len(data), offset)
        offset += len(data)
    for _, _, data in entries:
        out += data
    with open(path, "wb") as f:
        f.write(out)
