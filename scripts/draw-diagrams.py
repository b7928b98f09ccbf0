#!/usr/bin/python3
"""Draws the cable diagram and the mounting diagram that the program shows.

Run by hand after changing a drawing, then commit the pictures it writes:

    scripts/draw-diagrams.py            # writes dialogs/pictures/*.jpg
    scripts/draw-diagrams.py --png DIR  # also writes lossless copies for review

Each picture is drawn at three times its size and scaled down, which gives
smooth lines and text, then encoded as a baseline JPEG (1024 x 768, three
8-bit components, no chroma subsampling so that thin coloured lines stay
sharp). Needs Pillow (Debian: python3-pil) and the DejaVu fonts
(fonts-dejavu-core).
"""

import argparse
import math
import os
import sys

from PIL import Image, ImageDraw, ImageFont

WIDTH, HEIGHT = 1024, 768
SS = 3  # drawing scale before the final reduction

FONT_DIR = "/usr/share/fonts/truetype/dejavu"
REGULAR = os.path.join(FONT_DIR, "DejaVuSans.ttf")
BOLD = os.path.join(FONT_DIR, "DejaVuSans-Bold.ttf")
MONO = os.path.join(FONT_DIR, "DejaVuSansMono-Bold.ttf")

INK = (33, 33, 33)
GREY = (110, 110, 110)
LIGHT = (236, 239, 241)
PANEL = (245, 247, 248)
BLUE = (21, 101, 192)
HIGHLIGHT = (255, 243, 205)

# Wire colours, kept the same in both drawings.
TXD = (198, 40, 40)
RXD = (46, 125, 50)
RTS = (230, 110, 0)
GND = (33, 33, 33)
PLUS = (198, 40, 40)


class Sheet:
    """A drawing in final-picture coordinates, painted at SS times the size."""

    def __init__(self):
        self.image = Image.new("RGB", (WIDTH * SS, HEIGHT * SS), "white")
        self.draw = ImageDraw.Draw(self.image)
        self.fonts = {}

    def font(self, size, face=REGULAR):
        key = (size, face)
        if key not in self.fonts:
            self.fonts[key] = ImageFont.truetype(face, int(round(size * SS)))
        return self.fonts[key]

    @staticmethod
    def p(*xy):
        return [v * SS for v in xy]

    def line(self, points, colour=INK, width=1.5):
        flat = [v * SS for point in points for v in point]
        self.draw.line(flat, fill=colour, width=max(1, int(round(width * SS))), joint="curve")
        # Round the ends of thick lines.
        if width >= 2.5:
            for x, y in (points[0], points[-1]):
                self.dot(x, y, width / 2, colour)

    def dashed(self, a, b, colour=GREY, width=1.2, dash=6, gap=4):
        (x0, y0), (x1, y1) = a, b
        length = math.hypot(x1 - x0, y1 - y0)
        ux, uy = (x1 - x0) / length, (y1 - y0) / length
        pos = 0.0
        while pos < length:
            end = min(pos + dash, length)
            self.line([(x0 + ux * pos, y0 + uy * pos), (x0 + ux * end, y0 + uy * end)], colour, width)
            pos = end + gap

    def dashed_rect(self, x0, y0, x1, y1, colour=GREY, width=1.2):
        self.dashed((x0, y0), (x1, y0), colour, width)
        self.dashed((x1, y0), (x1, y1), colour, width)
        self.dashed((x1, y1), (x0, y1), colour, width)
        self.dashed((x0, y1), (x0, y0), colour, width)

    def rect(self, x0, y0, x1, y1, outline=INK, fill=None, width=1.5, radius=0):
        box = self.p(x0, y0, x1, y1)
        w = max(1, int(round(width * SS))) if outline else 0
        if radius:
            self.draw.rounded_rectangle(box, radius=radius * SS, outline=outline, fill=fill, width=w)
        else:
            self.draw.rectangle(box, outline=outline, fill=fill, width=w)

    def dot(self, x, y, r, fill=INK, outline=None, width=1.2):
        w = max(1, int(round(width * SS))) if outline else 0
        self.draw.ellipse(self.p(x - r, y - r, x + r, y + r), fill=fill, outline=outline, width=w)

    def polygon(self, points, fill=None, outline=INK, width=1.5):
        flat = [v * SS for point in points for v in point]
        self.draw.polygon(flat, fill=fill)
        if outline:
            self.line(list(points) + [points[0]], outline, width)

    def text(self, x, y, s, size=15, face=REGULAR, colour=INK, anchor="la"):
        self.draw.text((x * SS, y * SS), s, font=self.font(size, face), fill=colour, anchor=anchor)

    def lines(self, x, y, rows, size=15, face=REGULAR, colour=INK, anchor="la", leading=1.3):
        for i, row in enumerate(rows):
            self.text(x, y + i * size * leading, row, size, face, colour, anchor)

    def text_width(self, s, size=15, face=REGULAR):
        return self.draw.textlength(s, font=self.font(size, face)) / SS

    def arrow_head(self, tip, towards, colour, size=9):
        """A filled arrow head at `tip`, pointing away from `towards`."""
        (x, y), (fx, fy) = tip, towards
        angle = math.atan2(y - fy, x - fx)
        spread = math.radians(24)
        left = (x - size * math.cos(angle - spread), y - size * math.sin(angle - spread))
        right = (x - size * math.cos(angle + spread), y - size * math.sin(angle + spread))
        self.polygon([tip, left, right], fill=colour, outline=None)

    def arrow(self, a, b, colour=INK, width=1.5, size=9):
        self.line([a, b], colour, width)
        self.arrow_head(b, a, colour, size)

    def callout(self, anchor_xy, text_xy, rows, size=14, face=REGULAR, align="la"):
        """A leader line from a point of the drawing to its label."""
        self.dot(*anchor_xy, 2.6)
        self.line([anchor_xy, text_xy], GREY, 1.1)
        tx, ty = text_xy
        self.lines(tx + (4 if align[0] == "l" else -4), ty - size * 0.65, rows, size, face, INK,
                   align)

    def save(self, path_jpeg, png_dir=None):
        small = self.image.resize((WIDTH, HEIGHT), Image.LANCZOS)
        small.save(path_jpeg, "JPEG", quality=93, subsampling=0, progressive=False,
                   optimize=True)
        if png_dir:
            name = os.path.splitext(os.path.basename(path_jpeg))[0] + ".png"
            small.save(os.path.join(png_dir, name), "PNG")


def sheet_frame(s, title, number, subject):
    """Border, heading and the title block along the bottom."""
    s.rect(8, 8, WIDTH - 8, HEIGHT - 8, INK, None, 2)
    s.text(24, 30, title, 21, BOLD, INK, "lm")
    s.text(WIDTH - 24, 30, "DOMOWY TRELLIKON", 21, BOLD, BLUE, "rm")
    s.line([(8, 52), (WIDTH - 8, 52)], INK, 1.5)
    # Title block.
    top = HEIGHT - 44
    s.line([(8, top), (WIDTH - 8, top)], INK, 1.5)
    cells = [
        (8, 400, "Producent", "Przykładowe Zakłady Elektroniczne sp. z o.o."),
        (400, 780, "Rysunek", subject),
        (780, 900, "Numer", number),
        (900, WIDTH - 8, "Skala", "bez skali"),
    ]
    for x0, x1, head, body in cells:
        if x0 > 8:
            s.line([(x0, top), (x0, HEIGHT - 8)], INK, 1.2)
        s.text(x0 + 8, top + 4, head, 12, REGULAR, GREY)
        s.text(x0 + 8, top + 19, body, 13, BOLD, INK)


def section_heading(s, x, y, text):
    s.text(x, y, text, 15, BOLD, BLUE)


# --- cable diagram ----------------------------------------------------------


def db9_face(s, cx, cy, scale, female, used):
    """A D-sub 9 connector seen from its contacts, with pin numbers."""
    w, h = 118 * scale, 46 * scale
    shell = [(cx - w / 2, cy - h / 2), (cx + w / 2, cy - h / 2),
             (cx + w / 2 - 10 * scale, cy + h / 2), (cx - w / 2 + 10 * scale, cy + h / 2)]
    s.polygon(shell, fill=LIGHT, outline=INK, width=1.6)
    pitch = 21 * scale
    for row, (count, yoff) in enumerate(((5, -9 * scale), (4, 11 * scale))):
        for i in range(count):
            n = i + 1 if row == 0 else i + 6
            # Seen from the contacts, a female connector mirrors the male's numbering.
            k = (count - 1 - i) if female else i
            x = cx + (k - (count - 1) / 2) * pitch
            y = cy + yoff
            colour = used.get(n)
            s.dot(x, y, 5.2 * scale, fill=colour or "white", outline=INK, width=1.1)
            if female:
                s.dot(x, y, 2.0 * scale, fill=INK)
            label_y = y - 15 * scale if row == 0 else y + 15 * scale
            s.text(x, label_y, str(n), 12 * scale, BOLD if colour else REGULAR,
                   INK if colour else GREY, "mm")


def pin_header(s, x, y, pins, pitch, colours):
    """A vertical row of header pins, top to bottom, with their numbers."""
    s.rect(x - 11, y - 14, x + 11, y + pitch * (len(pins) - 1) + 14, INK, (176, 184, 190), 1.2, 3)
    for i, n in enumerate(pins):
        yy = y + i * pitch
        s.rect(x - 5, yy - 5, x + 5, yy + 5, None, colours.get(n, (200, 200, 200)))


def draw_cable_diagram(path, png_dir):
    s = Sheet()
    sheet_frame(s, "PODŁĄCZENIE URZĄDZENIA DO KOMPUTERA", "Rys. 1 z 2",
                "Kabel programujący i gniazdo programowania")

    # 1. How the parts go together.
    section_heading(s, 24, 64, "1. Sposób podłączenia")

    # The computer, seen from the back.
    s.rect(34, 96, 190, 330, INK, PANEL, 1.8, 6)
    s.text(112, 114, "KOMPUTER PC", 15, BOLD, INK, "mm")
    s.text(112, 132, "(tył obudowy)", 13, REGULAR, GREY, "mm")
    for i in range(5):
        s.line([(56, 150 + i * 9), (168, 150 + i * 9)], (176, 190, 197), 2)
    s.rect(56, 206, 168, 222, GREY, (220, 224, 226), 1, 2)
    s.rect(56, 232, 168, 248, GREY, (220, 224, 226), 1, 2)
    # Its COM port.
    s.rect(126, 268, 190, 308, INK, (200, 206, 210), 1.4, 3)
    s.polygon([(134, 277), (182, 277), (177, 299), (139, 299)], fill=(90, 90, 90), outline=INK,
              width=1)
    s.text(112, 344, "złącze COM (RS-232),", 13, REGULAR, INK, "mm")
    s.text(112, 361, "wtyk DB-9 męski", 13, REGULAR, INK, "mm")

    # The cable's DB-9 plug pushed onto the port.
    s.rect(190, 270, 222, 306, INK, (70, 78, 84), 1.4, 3)
    s.rect(222, 278, 240, 298, INK, (70, 78, 84), 1.4, 2)
    cable = (72, 78, 84)
    path_pts = [(240, 288), (290, 288), (318, 240), (348, 224)]
    s.line(path_pts, cable, 7)

    # The interface inside the cable.
    s.rect(348, 178, 572, 272, INK, (255, 248, 225), 2, 8)
    s.text(460, 198, "INTERFEJS PROGRAMUJĄCY", 14, BOLD, INK, "mm")
    s.text(460, 219, "konwerter RS-232 ↔ TTL", 13, REGULAR, INK, "mm")
    s.text(460, 238, "w obudowie kabla,", 13, REGULAR, INK, "mm")
    s.text(460, 256, "zasilany z linii RTS", 13, BOLD, RTS, "mm")

    s.line([(572, 224), (640, 224), (672, 190), (716, 190)], cable, 7)
    # The plug at the device's end.
    s.rect(716, 176, 744, 204, INK, (70, 78, 84), 1.4, 3)

    # The device with its programming socket.
    s.rect(752, 84, 1000, 330, INK, PANEL, 2, 10)
    s.text(876, 106, "DOMOWY TRELLIKON", 15, BOLD, BLUE, "mm")
    s.text(876, 125, "moduł powiadamiania GSM", 12, REGULAR, GREY, "mm")
    s.rect(752, 160, 800, 222, INK, HIGHLIGHT, 1.6, 2)
    pin_header(s, 776, 172, [1, 2, 3, 4], 13, {1: GND, 2: TXD, 3: RXD})
    s.text(812, 168, "GNIAZDO", 13, BOLD, INK, "lm")
    s.text(812, 185, "PROGRAMOWANIA J1", 13, BOLD, INK, "lm")
    s.text(812, 204, "(wewnątrz, pod pokrywą)", 12, REGULAR, GREY, "lm")
    for i in range(4):
        s.rect(812 + i * 42, 262, 842 + i * 42, 300, GREY, "white", 1.2, 2)
    s.text(876, 314, "zaciski – patrz Rys. 2", 12, REGULAR, GREY, "mm")

    # The port's contacts, so the pins can be found with a meter.
    db9_face(s, 268, 120, 1.0, False, {3: TXD, 2: RXD, 7: RTS, 5: GND})
    s.text(268, 160, "gniazdo COM komputera", 12, REGULAR, INK, "mm")
    s.text(268, 175, "(widok od strony styków)", 12, REGULAR, GREY, "mm")

    # Alternative: a USB to serial adapter.
    s.dashed_rect(226, 306, 560, 372)
    s.text(236, 318, "lub: przejściówka USB – RS-232", 13, BOLD, INK, "lm")
    s.rect(238, 334, 268, 356, INK, (180, 186, 190), 1.2, 2)
    s.line([(268, 345), (300, 345)], cable, 5)
    s.rect(300, 333, 350, 357, INK, (70, 78, 84), 1.2, 4)
    s.text(325, 345, "USB", 10, BOLD, "white", "mm")
    s.line([(350, 345), (382, 345)], cable, 5)
    s.rect(382, 334, 406, 356, INK, (70, 78, 84), 1.2, 2)
    s.text(414, 336, "w programie widoczna", 12, REGULAR, INK, "la")
    s.text(414, 352, "jako kolejny port COM", 12, REGULAR, INK, "la")

    # 2. What every line of the cable carries.
    s.line([(8, 384), (WIDTH - 8, 384)], (200, 200, 200), 1)
    section_heading(s, 24, 394, "2. Połączenia w kablu programującym")

    rows = {  # name: y
        "TxD": 474, "RxD": 524, "RTS": 574, "GND": 624,
    }
    # Left: the plug at the computer's end.
    s.rect(40, 424, 214, 644, INK, PANEL, 1.6, 6)
    s.text(127, 438, "wtyk DB-9 żeński", 13, BOLD, INK, "mm")
    plug_pins = [("TxD", "3", TXD, "nadawanie"), ("RxD", "2", RXD, "odbiór"),
                 ("RTS", "7", RTS, "zasilanie"), ("GND", "5", GND, "masa")]
    for name, pin, colour, role in plug_pins:
        y = rows[name]
        s.text(52, y - 8, f"styk {pin}", 14, BOLD, INK, "lm")
        s.text(52, y + 10, role, 12, REGULAR, GREY, "lm")
        s.text(164, y, name, 14, BOLD, colour, "rm")
        s.dot(214, y, 5, fill="white", outline=INK, width=1.4)

    # Middle: the interface.
    s.rect(384, 424, 620, 644, INK, (255, 248, 225), 1.8, 8)
    s.text(502, 438, "interfejs", 13, BOLD, INK, "mm")
    # Level shifters on the data lines.
    for name, leftwards in (("TxD", False), ("RxD", True)):
        y = rows[name]
        cx = 502
        if leftwards:
            tri = [(cx - 18, y), (cx + 14, y - 16), (cx + 14, y + 16)]
        else:
            tri = [(cx + 18, y), (cx - 14, y - 16), (cx - 14, y + 16)]
        s.polygon(tri, fill="white", outline=INK, width=1.5)
    # The supply taken from RTS.
    y = rows["RTS"]
    s.polygon([(440, y - 8), (440, y + 8), (454, y)], fill=INK, outline=INK, width=1)
    s.line([(454, y - 9), (454, y + 9)], INK, 2)
    s.rect(470, y - 14, 560, y + 14, INK, "white", 1.4, 3)
    s.text(515, y, "zasilanie", 12, BOLD, INK, "mm")
    s.line([(515, y - 14), (515, rows["RxD"] + 16)], PLUS, 1.4)
    s.line([(515, rows["RxD"] - 16), (515, rows["TxD"] + 16)], PLUS, 1.4)
    s.text(566, y - 22, "+U", 12, BOLD, PLUS, "lm")

    # Right: the device's programming socket.
    s.rect(808, 424, 1000, 644, INK, PANEL, 1.6, 6)
    s.text(904, 438, "gniazdo J1 urządzenia", 13, BOLD, INK, "mm")
    socket_pins = [("TxD", "2", "RXD", "odbiór"), ("RxD", "3", "TXD", "nadawanie"),
                   ("GND", "1", "GND", "masa")]
    colours = {"TxD": TXD, "RxD": RXD, "RTS": RTS, "GND": GND}
    for line_name, pin, name, role in socket_pins:
        y = rows[line_name]
        s.dot(808, y, 5, fill="white", outline=INK, width=1.4)
        s.text(824, y, name, 14, BOLD, colours[line_name], "lm")
        s.text(988, y - 8, f"styk {pin}", 14, BOLD, INK, "rm")
        s.text(988, y + 10, role, 12, REGULAR, GREY, "rm")
    y = rows["RTS"]
    s.text(904, y, "styk 4: nie podłączony", 12, REGULAR, GREY, "mm")

    # The wires.
    w = 3.2
    # The data lines pass through the level shifters; the arrow shows which way.
    for name, colour, to_device, near_pc, near_device in (
            ("TxD", TXD, True, "dane z komputera", "do urządzenia"),
            ("RxD", RXD, False, "do komputera", "dane z urządzenia")):
        y = rows[name]
        s.line([(219, y), (484, y)], colour, w)
        s.line([(520, y), (803, y)], colour, w)
        if to_device:
            s.arrow_head((803, y), (700, y), colour, 11)
        else:
            s.arrow_head((219, y), (300, y), colour, 11)
        s.text(300, y - 14, near_pc, 12, REGULAR, colour, "mm")
        s.text(712, y - 14, near_device, 12, REGULAR, colour, "mm")

    y = rows["RTS"]
    s.line([(219, y), (440, y)], RTS, w)
    s.arrow_head((436, y), (380, y), RTS, 11)
    s.text(300, y - 14, "stale włączona (+)", 12, BOLD, RTS, "mm")

    y = rows["GND"]
    s.line([(219, y), (803, y)], GND, w)
    s.line([(515, y), (515, rows["RTS"] + 14)], GND, 1.4)
    s.text(300, y - 14, "masa wspólna", 12, REGULAR, INK, "mm")

    # Notes.
    notes = [
        "Port: 19200 bit/s, 8 bitów danych, bez parzystości, 1 bit stopu, bez sterowania przepływem.",
        "Program utrzymuje linię RTS włączoną przez całe połączenie – z niej zasilany jest interfejs.",
        "Kolejność: wybierz port COM w programie, wyłącz i włącz urządzenie, naciśnij „Nawiąż połączenie”.",
    ]
    s.lines(24, 660, notes, 13, REGULAR, INK, "la", 1.3)
    return s.save(path, png_dir)


# --- mounting diagram -------------------------------------------------------


def screw_terminal(s, x, y, label, colour=INK, label_left=True, size=13):
    """One screw terminal of a terminal strip, its label beside it."""
    s.rect(x - 13, y - 12, x + 13, y + 12, INK, (232, 236, 238), 1.2, 2)
    s.dot(x, y, 7, fill="white", outline=INK, width=1.2)
    s.line([(x - 4.5, y + 4.5), (x + 4.5, y - 4.5)], INK, 1.4)
    if label_left:
        s.text(x + 22, y, label, size, BOLD, colour, "lm")
    else:
        s.text(x - 22, y, label, size, BOLD, colour, "rm")


def supply_tag(s, x, y, colour=PLUS):
    """A supply connection drawn as a bar with its name, instead of a long wire."""
    s.line([(x - 12, y), (x + 12, y)], colour, 2.4)
    s.text(x, y - 11, "+12 V", 12, BOLD, colour, "mm")


def example_note(s, x, y, rows):
    s.text(x, y, "PRZYKŁAD:", 12, BOLD, BLUE)
    s.lines(x, y + 17, rows, 12, REGULAR, INK)


def draw_mounting_diagram(path, png_dir):
    s = Sheet()
    sheet_frame(s, "SCHEMAT MONTAŻOWY", "Rys. 2 z 2", "Zaciski, antena i karta SIM")

    # The device.
    dx0, dy0, dx1, dy1 = 300, 140, 724, 600
    s.rect(dx0, dy0, dx1, dy1, INK, PANEL, 2.4, 12)
    s.text(512, 174, "DOMOWY TRELLIKON", 19, BOLD, BLUE, "mm")
    s.text(512, 197, "moduł powiadamiania alarmowego GSM", 13, REGULAR, GREY, "mm")

    # SIM slot on the top edge, a card half way in.
    sx = 420
    card = [(sx - 28, dy0 - 50), (sx + 20, dy0 - 50), (sx + 28, dy0 - 42), (sx + 28, dy0 - 2),
            (sx - 28, dy0 - 2)]
    s.polygon(card, fill=(255, 214, 79), outline=INK, width=1.3)
    s.rect(sx - 11, dy0 - 38, sx + 9, dy0 - 22, INK, (214, 170, 60), 1, 2)
    s.rect(sx - 38, dy0 - 5, sx + 38, dy0 + 6, INK, (40, 40, 40), 1.2, 2)
    s.arrow((sx + 46, dy0 - 58), (sx + 46, dy0 - 18), INK, 1.6, 9)
    s.line([(sx - 34, dy0 - 30), (268, dy0 - 30)], GREY, 1.1)
    s.dot(sx - 34, dy0 - 30, 2.6)
    s.text(262, 80, "GNIAZDO KARTY SIM", 14, BOLD, INK, "ra")
    s.lines(262, 100, ["kartę wkładać przy wyłączonym", "zasilaniu, stykami w dół;",
                       "kod PIN karty wyłączony"], 12, REGULAR, GREY, "ra")

    # Antenna socket on the top edge and the antenna.
    ax = 630
    s.rect(ax - 15, dy0 - 20, ax + 15, dy0, INK, (196, 160, 60), 1.4, 2)
    s.rect(ax - 8, dy0 - 60, ax + 8, dy0 - 20, INK, (60, 60, 60), 1.2, 3)
    s.line([(ax, dy0 - 60), (ax, 68)], (60, 60, 60), 5)
    s.dot(ax, 66, 5, fill=(60, 60, 60))
    s.dot(ax + 15, dy0 - 10, 2.6)
    s.line([(ax + 15, dy0 - 10), (680, dy0 - 10), (680, 86), (688, 86)], GREY, 1.1)
    s.text(694, 78, "ANTENA GSM, złącze SMA", 14, BOLD, INK, "la")
    s.lines(694, 98, ["ustawić pionowo, z dala od metalu;", "sprawdzić zasięg sieci GSM"],
            12, REGULAR, GREY)

    # Inside: the programming socket and the LEDs.
    s.rect(480, 276, 544, 312, INK, HIGHLIGHT, 1.4, 3)
    for i in range(4):
        s.rect(489 + i * 13, 290, 497 + i * 13, 298, None, (90, 90, 90))
    s.text(512, 328, "gniazdo programowania J1", 12, REGULAR, INK, "mm")
    s.text(512, 344, "(kabel – patrz Rys. 1)", 12, REGULAR, GREY, "mm")
    for i, (name, colour) in enumerate((("ZASIL.", (76, 175, 80)), ("GSM", (255, 179, 0)),
                                         ("ALARM", (229, 57, 53)))):
        x = 448 + i * 64
        s.dot(x, 420, 7, fill=colour, outline=INK, width=1)
        s.text(x, 440, name, 12, BOLD, INK, "mm")

    # Fixing holes in the corners.
    for hx, hy in ((dx0 + 18, dy0 + 18), (dx1 - 18, dy0 + 18), (dx0 + 18, dy1 - 18),
                   (dx1 - 18, dy1 - 18)):
        s.dot(hx, hy, 6, fill="white", outline=INK, width=1.2)
        s.dot(hx, hy, 2.5, fill=GREY)
    s.text(512, 560, "widok po zdjęciu pokrywy", 12, REGULAR, GREY, "mm")
    s.text(512, 578, "4 otwory montażowe Ø 4 mm w narożnikach", 12, REGULAR, GREY, "mm")

    # Inputs: a terminal strip along the left edge.
    tx = dx0 + 30
    in_top = 258
    pitch = 34
    s.text(dx0 + 16, 228, "WEJŚCIA", 13, BOLD, INK, "lm")
    for i, name in enumerate([f"WE{i}" for i in range(1, 9)] + ["GND"]):
        screw_terminal(s, tx, in_top + i * pitch, name, INK)

    # Example on WE1: a normally closed door contact, back to GND.
    y1, yg = in_top, in_top + 8 * pitch
    cx = 226
    s.line([(tx - 13, y1), (cx, y1), (cx, 346)], INK, 2)
    s.line([(cx, 342), (cx + 20, 398)], INK, 2.2)  # the blade, resting on the contact
    s.line([(cx, 420), (cx, 396), (cx + 24, 396)], INK, 2.2)
    s.line([(cx, 420), (cx, yg), (tx - 13, yg)], INK, 2)
    s.dot(cx, 342, 3)
    s.dashed_rect(206, 326, 294, 436)
    s.rect(262, 346, 274, 368, INK, (229, 57, 53), 1, 1)
    s.rect(262, 368, 274, 390, INK, (30, 136, 229), 1, 1)
    s.text(268, 412, "magnes", 11, REGULAR, GREY, "mm")
    example_note(s, 28, 300, ["styk alarmowy NC,", "np. kontaktron", "drzwi lub okna"])
    s.lines(28, 470, ["Każdy czujnik", "podłączać między", "wejście WEx a GND."], 12, REGULAR,
            INK)

    # Supply and outputs: a terminal strip along the right edge.
    rx = dx1 - 30
    s.text(dx1 - 16, 228, "ZASILANIE", 13, BOLD, INK, "rm")
    screw_terminal(s, rx, 258, "+12V", PLUS, label_left=False)
    screw_terminal(s, rx, 292, "GND", INK, label_left=False)
    s.text(dx1 - 16, 346, "WYJŚCIA", 13, BOLD, INK, "rm")
    screw_terminal(s, rx, 376, "WY1", INK, label_left=False)
    screw_terminal(s, rx, 410, "WY2", INK, label_left=False)

    # Power supply unit, with a fuse in the positive lead.
    s.rect(836, 158, 1000, 232, INK, (232, 236, 238), 1.8, 6)
    s.text(918, 180, "ZASILACZ", 14, BOLD, INK, "mm")
    s.text(918, 200, "12 V DC, min. 1 A", 13, REGULAR, INK, "mm")
    s.text(860, 220, "+", 15, BOLD, PLUS, "mm")
    s.text(976, 220, "–", 15, BOLD, INK, "mm")
    s.line([(rx + 13, 258), (860, 258), (860, 232)], PLUS, 2.4)
    s.line([(rx + 13, 292), (976, 292), (976, 232)], INK, 2.4)
    s.rect(764, 250, 804, 266, INK, "white", 1.4, 2)
    s.line([(764, 258), (804, 258)], INK, 1)
    s.text(784, 240, "bezpiecznik", 12, REGULAR, GREY, "mm")

    # Example on WY1: a relay coil fed from +12 V, a diode across it.
    kx = 900
    s.line([(rx + 13, 376), (790, 376), (790, 480), (kx, 480), (kx, 456)], INK, 2)
    s.line([(kx, 412), (kx, 380)], PLUS, 2)
    supply_tag(s, kx, 380)
    s.rect(kx - 16, 412, kx + 16, 456, INK, "white", 1.6, 2)
    s.text(kx, 434, "K1", 13, BOLD, INK, "mm")
    s.line([(kx, 396), (952, 396), (952, 418)], INK, 1.5)
    s.polygon([(944, 446), (960, 446), (952, 420)], fill=INK, outline=INK, width=1)
    s.line([(943, 420), (961, 420)], INK, 2.2)
    s.line([(952, 446), (952, 468), (kx, 468)], INK, 1.5)
    s.dot(kx, 396, 2.8)
    s.dot(kx, 468, 2.8)
    s.text(968, 433, "D1", 12, BOLD, INK, "lm")
    # WY2 left free here.
    s.line([(rx + 13, 410), (752, 410)], INK, 2)
    s.dot(752, 410, 3.4, fill="white", outline=INK, width=1.2)
    example_note(s, 770, 500, ["przekaźnik K1 na WY1", "(np. brama, oświetlenie);",
                               "WY2 podłącza się tak samo"])

    notes = [
        "Wejścia WE1…WE8: przewody czujników prowadzić z dala od przewodów sieci 230 V.",
        "Wyjścia WY1, WY2: typu OC (zwierają do GND), maks. 0,5 A; przy cewce przekaźnika dioda D1.",
        "Montować w suchym miejscu, w zasięgu sieci GSM; przewody dokręcić w zaciskach śrubowych.",
    ]
    s.lines(24, 626, notes, 13, REGULAR, INK, "la", 1.3)
    return s.save(path, png_dir)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = os.path.normpath(os.path.join(here, "..", "dialogs", "pictures"))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default=out, help="where the JPEG files go (default: %(default)s)")
    parser.add_argument("--png", metavar="DIR", help="also write lossless PNG copies here")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    if args.png:
        os.makedirs(args.png, exist_ok=True)
    draw_cable_diagram(os.path.join(args.out, "cable_diagram.jpg"), args.png)
    draw_mounting_diagram(os.path.join(args.out, "mounting_diagram.jpg"), args.png)
    return 0


if __name__ == "__main__":
    sys.exit(main())
