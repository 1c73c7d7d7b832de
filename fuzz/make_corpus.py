#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora into fuzz/corpus/<target>/ (run from anywhere).

Every seed is made here from scratch: small valid inputs in each target's format, from
which the fuzzer mutates its way into the invalid ones."""
import math
import os
import struct

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def write(target, name, data):
    folder = os.path.join(ROOT, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def camera_file(width, height, focal, k=0.0):
    cx, cy = (width - 1) / 2, (height - 1) / 2
    projection = [focal, 0, cx, 0, 0, focal, cy, 0, 0, 0, 1, 0]
    return struct.pack(">ii12d4d", width, height, *projection, cx, cy, k, 1.0)


def quarter(row, column):
    return 0 if row < 8 and column < 8 else 255


def pattern_text(picture):
    """Four orientation blocks, each the picture turned a further quarter turn counter-clockwise."""
    lines = []
    for turn in range(4):
        for plane in range(3):
            for row in range(16):
                values = []
                for column in range(16):
                    r, c = row, column
                    for _ in range(turn):  # undo the turns: where this cell came from
                        r, c = c, 15 - r
                    values.append("%4d" % picture(r, c, plane))
                lines.append("".join(values))
        lines.append("")
    return "\n".join(lines)


def side_code(side):
    """The target reads a side of 3 + code % 128, or 3 + code % 1022 when the code's top bit is set."""
    return side - 3 if side < 131 else 32 * 1022 + side - 3


def detection_input(width, height, tile_width, tile_height, tile, flags=0, threshold=100):
    header = struct.pack("<HHiiiBBB", side_code(width), side_code(height), threshold, 100000, 70,
                         tile_width, tile_height, flags)
    return header + bytes(tile)


def marker_tile(size, border, bgra=False):
    """A white frame around a black-bordered square whose inside has a dark quarter."""
    pixels = []
    lo, hi = border, size - border
    inner_lo, inner_hi = lo + (hi - lo) // 4, hi - (hi - lo) // 4
    mid = (inner_lo + inner_hi) // 2
    for y in range(size):
        for x in range(size):
            dark = lo <= x < hi and lo <= y < hi
            if inner_lo <= x < inner_hi and inner_lo <= y < inner_hi:
                dark = x < mid and y < mid
            pixels += [0, 0, 0, 255] if bgra and dark else [255] * 4 if bgra else [0 if dark else 255]
    return pixels


def line_through(p, q):
    a, b = q[1] - p[1], p[0] - q[0]
    n = math.hypot(a, b)
    a, b = a / n, b / n
    return [a, b, -(a * p[0] + b * p[1])]


def marker_record(corners, direction=0, area=10000):
    lines = [line_through(corners[i], corners[(i + 1) % 4]) for i in range(4)]
    centre = [sum(c[0] for c in corners) / 4, sum(c[1] for c in corners) / 4]
    record = struct.pack("<iiid", area, 0, direction, 0.9) + struct.pack("<2d", *centre)
    record += struct.pack("<12d", *[v for line in lines for v in line])
    record += struct.pack("<8d", *[v for c in corners for v in c])
    return record + struct.pack("<3d", 0.0, 0.0, 80.0)


def main():
    write("camera_file", "plain_640x480", camera_file(640, 480, 700.0))
    write("camera_file", "distorted_320x240", camera_file(320, 240, 350.0, 60.0))

    write("pattern_file", "quarter", pattern_text(lambda r, c, p: quarter(r, c)))
    write("pattern_file", "colour_ramp", pattern_text(lambda r, c, p: (r * 16 + c * (p + 1)) % 256))
    write("pattern_file", "board", b"# x y rotation width pattern\nmarker -35 0 0 50 a.patt\n"
          b"marker 35 0 90 50 b.patt  # turned\r\n")

    write("detection", "marker_exact", detection_input(40, 40, 0, 0, marker_tile(40, 6)))
    write("detection", "marker_stretched", detection_input(320, 240, 20, 20, marker_tile(20, 3), flags=2))
    write("detection", "marker_bgra", detection_input(48, 36, 24, 24, marker_tile(24, 4, bgra=True), flags=1))
    write("detection", "marker_auto", detection_input(40, 40, 0, 0, marker_tile(40, 6), flags=4))
    write("detection", "marker_small_auto", detection_input(160, 120, 20, 20, marker_tile(20, 3), flags=6))

    square = [(270.0, 190.0), (370.0, 190.0), (370.0, 290.0), (270.0, 290.0)]
    write("marker_pose", "square_on", marker_record(square))
    tilted = [(250.0, 200.0), (380.0, 185.0), (372.0, 300.0), (262.0, 280.0)]
    write("marker_pose", "tilted_direction2", marker_record(tilted, direction=2, area=12000))

    write("video_config", "synthetic", '<video>\n  <synthetic width="64" height="48" frames="3" seed="7"'
          ' noise="2" blur="0.6" distance="300 900" tilt="0 40" spin="30" drift="0.5" loop="true">\n'
          '    <marker pattern="a.pat" size="80"/>\n'
          '    <marker pattern="b.pat" pose="1 0 0 0  0 -1 0 0  0 0 -1 600"/>\n'
          '  </synthetic>\n</video>\n')
    write("video_config", "images", '<video><images path="frames/%04d.png" start="2" fps="25" pace="realtime"/></video>\n')
    write("video_config", "camera", '<video><camera device="0" width="640" height="480" fps="30"/></video>\n')
    write("video_config", "file", '<video><file path="clips\\clip.avi" fps="24" loop="false" pace="none"/></video>\n')


if __name__ == "__main__":
    main()
