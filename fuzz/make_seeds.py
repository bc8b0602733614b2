#!/usr/bin/env python3
"""Writes the small seed pictures and blocks of fuzz/corpus/ (our own, made from scratch).

Each picture is a few pixels in one layout of its format, so that the fuzzers start inside every
decoder branch. The JPEG seeds are renders of our own templates:
    quirlon-render --templates data/Templates -t 1 --width 32 --height 32 \
        --source front=#3366CC --source side=clRed -o fuzz/corpus/picture_jpeg/box32.jpg
    quirlon-render --templates data/Templates -t 2 --width 40 --height 32 --dpi 300 \
        -o fuzz/corpus/picture_jpeg/disc40.jpg
The WebP, HEIC and AVIF seeds (fuzz/corpus/picture_webp, picture_heif) are 8 x 8 and 16 x 16
gradients written once with libwebp's and libheif's encoders (lossless, lossy, lossy with alpha);
the SVG and PDF seeds are written below."""
import os
import struct
import zlib

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")


def put(target, name, data, prefix=None):
    d = os.path.join(ROOT, target)
    os.makedirs(d, exist_ok=True)
    if prefix is not None:
        data = bytes([prefix]) + data
    with open(os.path.join(d, name), "wb") as f:
        f.write(data)


PIXELS = [[(255, 0, 0), (0, 255, 0), (0, 0, 255)], [(255, 255, 255), (0, 0, 0), (128, 64, 32)]]  # 3 x 2 RGB


def dib(bits, w=3, h=2, compression=0, extra=b"", palette=b"", rows=b"", height_sign=1):
    info = struct.pack("<IiiHHIIiiII", 40, w, h * height_sign, 1, bits, compression, len(rows), 2835, 2835,
                       len(palette) // 4, 0)
    return info + extra + palette + rows


def make_bmp(bits, compression=0, extra=b"", palette=b"", rows=b"", height_sign=1, w=3, h=2):
    d = dib(bits, w, h, compression, extra, palette, rows, height_sign)
    return b"BM" + struct.pack("<IHHI", 14 + len(d), 0, 0, 14 + len(d) - len(rows)) + d


def rows24(pixels, bottom_up=True):
    out = b""
    order = reversed(pixels) if bottom_up else pixels
    for row in order:
        r = b"".join(bytes([b, g, r_]) for (r_, g, b) in row)
        out += r + b"\0" * ((4 - len(r) % 4) % 4)
    return out


def rows32(pixels, alpha=128):
    return b"".join(bytes([b, g, r, alpha]) for row in reversed(pixels) for (r, g, b) in row)


def pictures_bmp():
    put("picture_bmp", "rgb24.bmp", make_bmp(24, rows=rows24(PIXELS)), 0)
    put("picture_bmp", "topdown24.bmp", make_bmp(24, rows=rows24(PIXELS, False), height_sign=-1), 0)
    put("picture_bmp", "rgb32.bmp", make_bmp(32, rows=rows32(PIXELS)), 0)
    masks = struct.pack("<III", 0xF800, 0x07E0, 0x001F)
    rows16 = b"".join(struct.pack("<HHH", 0xF800, 0x07E0, 0x001F) + b"\0\0" for _ in range(2))
    put("picture_bmp", "bitfields16.bmp", make_bmp(16, 3, masks, rows=rows16), 0)
    pal = b"".join(bytes([b, g, r, 0]) for (r, g, b) in PIXELS[0] + PIXELS[1])
    put("picture_bmp", "pal8.bmp", make_bmp(8, palette=pal, rows=bytes([0, 1, 2, 0, 3, 4, 5, 0])), 0)
    put("picture_bmp", "pal4.bmp", make_bmp(4, palette=pal, rows=bytes([0x01, 0x20, 0, 0, 0x34, 0x50, 0, 0])), 0)
    put("picture_bmp", "pal1.bmp", make_bmp(1, palette=pal[:8], rows=bytes([0xA0, 0, 0, 0, 0x40, 0, 0, 0])), 0)
    # RLE8: a run, an absolute run, end of line, a delta, end of bitmap.
    rle8 = bytes([2, 1, 0, 3, 2, 3, 4, 0, 0, 0, 0, 2, 1, 0, 1, 1, 0, 1])
    put("picture_bmp", "rle8.rle", make_bmp(8, 1, palette=pal, rows=rle8), 1)
    rle4 = bytes([3, 0x12, 0, 0, 0, 3, 0x34, 0x50, 0, 1])
    put("picture_bmp", "rle4.bmp", make_bmp(4, 2, palette=pal, rows=rle4), 0)
    # The old 12-byte header with a 3-byte palette.
    core = struct.pack("<IHHHH", 12, 2, 2, 1, 8) + bytes([0, 0, 255, 0, 255, 0]) + bytes([0, 1, 0, 0, 1, 0, 0, 0])
    put("picture_bmp", "os2.bmp", b"BM" + struct.pack("<IHHI", 14 + len(core), 0, 0, 14 + 12 + 6) + core, 0)
    # The same bitmap under the .dib extension.
    put("picture_bmp", "plain.dib", make_bmp(24, rows=rows24(PIXELS)), 2)


def pictures_ico():
    rows = rows32(PIXELS, 255)
    mask = b"\0\0\0\0" * 2
    d = dib(32, 3, 2, rows=rows, height_sign=1)
    d = struct.pack("<IiiHHIIiiII", 40, 3, 4, 1, 32, 0, 0, 0, 0, 0, 0) + rows + mask
    ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 3, 2, 0, 0, 1, 32, len(d), 22) + d
    put("picture_ico", "rgba.ico", ico)
    pal = b"".join(bytes([b, g, r, 0]) for (r, g, b) in PIXELS[0] + PIXELS[1]) + b"\0" * 40
    rows8 = bytes([0, 1, 2, 0, 3, 4, 5, 0])
    mask = bytes([0x40, 0, 0, 0, 0x80, 0, 0, 0])
    d = struct.pack("<IiiHHIIiiII", 40, 3, 4, 1, 4, 0, 0, 0, 0, 16, 0) + pal[:64] + bytes([0x01, 0x20, 0, 0, 0x34, 0x50, 0, 0]) + mask
    ico = struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 3, 2, 16, 0, 1, 4, len(d), 22) + d
    put("picture_ico", "pal4mask.ico", ico)


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png(color_type, depth, raw_rows, extra=b"", w=3, h=2, interlace=0):
    ihdr = struct.pack(">IIBBBBB", w, h, depth, color_type, 0, 0, interlace)
    data = b"".join(b"\0" + r for r in raw_rows)
    return b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + extra + png_chunk(b"IDAT", zlib.compress(data)) + png_chunk(b"IEND", b"")


def pictures_png():
    rgb = [b"".join(bytes(p) for p in row) for row in PIXELS]
    put("picture_png", "rgb.png", png(2, 8, rgb, png_chunk(b"tRNS", b"\0\0\0\0\0\xff")))
    rgba = [b"".join(bytes(p) + b"\x80" for p in row) for row in PIXELS]
    put("picture_png", "rgba.png", png(6, 8, rgba, png_chunk(b"gAMA", struct.pack(">I", 45455))))
    put("picture_png", "pal.png", png(3, 8, [b"\0\1\2", b"\2\1\0"], png_chunk(b"PLTE", b"\xff\0\0\0\xff\0\0\0\xff") + png_chunk(b"tRNS", b"\0")))
    put("picture_png", "grey16.png", png(0, 16, [b"\0\0\x80\x00\xff\xff", b"\x12\x34\x56\x78\x9a\xbc"]))
    put("picture_png", "greyalpha.png", png(4, 8, [b"\0\xff\x80\x80\xff\0", b"\1\2\3\4\5\6"]))
    put("picture_png", "interlaced.png", png(2, 8, rgb, interlace=1))


def lzw_gif_data(indices, min_code=2):
    # Codes of min_code + 1 bits with a clear code before every pixel: valid and simple.
    clear, end = 1 << min_code, (1 << min_code) + 1
    bits, nbits, out = 0, 0, bytearray()
    size = min_code + 1
    for code in [clear] + [x for i in indices for x in (i, clear)][:-1] + [end]:
        bits |= code << nbits
        nbits += size
        while nbits >= 8:
            out.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        out.append(bits & 0xFF)
    blocks = b""
    for i in range(0, len(out), 255):
        chunk = bytes(out[i:i + 255])
        blocks += bytes([len(chunk)]) + chunk
    return bytes([min_code]) + blocks + b"\0"


def pictures_gif():
    pal = b"\xff\0\0\0\xff\0\0\0\xff\xff\xff\xff"
    gce = b"\x21\xf9\x04\x01\x00\x00\x03\x00"
    img = b"\x2c" + struct.pack("<HHHHB", 0, 0, 3, 2, 0) + lzw_gif_data([0, 1, 2, 3, 3, 0])
    put("picture_gif", "plain.gif", b"GIF89a" + struct.pack("<HHBBB", 3, 2, 0x81, 0, 0) + pal + gce + img + b"\x3b")
    img2 = b"\x2c" + struct.pack("<HHHHB", 1, 1, 2, 1, 0x81) + pal + lzw_gif_data([1, 2])
    put("picture_gif", "localpal.gif", b"GIF87a" + struct.pack("<HHBBB", 4, 3, 0, 0, 0) + img2 + b"\x3b")


def tiff(pixels_rgb, w=3, h=2, bits=(8, 8, 8), photometric=2, compression=1):
    data = pixels_rgb
    entries = [
        (256, 3, 1, w), (257, 3, 1, h), (258, 3, len(bits), None), (259, 3, 1, compression),
        (262, 3, 1, photometric), (273, 4, 1, None), (277, 3, 1, len(bits)), (278, 3, 1, h), (279, 4, 1, len(data)),
    ]
    ifd_off = 8
    n = len(entries)
    after = ifd_off + 2 + n * 12 + 4
    bits_off = after
    data_off = bits_off + 2 * len(bits)
    out = b"II*\0" + struct.pack("<I", ifd_off) + struct.pack("<H", n)
    for tag, typ, count, value in entries:
        if tag == 258:
            value = bits[0] if len(bits) == 1 else bits_off
        if tag == 273:
            value = data_off
        if typ == 3 and count == 1:
            out += struct.pack("<HHIHH", tag, typ, count, value, 0)
        else:
            out += struct.pack("<HHII", tag, typ, count, value)
    out += b"\0\0\0\0" + b"".join(struct.pack("<H", b) for b in bits) + data
    return out


def pictures_tiff():
    rgb = b"".join(bytes(p) for row in PIXELS for p in row)
    put("picture_tiff", "rgb.tif", tiff(rgb))
    put("picture_tiff", "grey.tif", tiff(b"\0\x40\x80\xc0\xff\x10", bits=(8,), photometric=1))


def pictures_tga():
    bgr = b"".join(bytes([b, g, r]) for row in reversed(PIXELS) for (r, g, b) in row)
    put("picture_tga", "rgb.tga", struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 3, 2, 24, 0) + bgr)
    # RLE: one run packet of three, one raw packet of three.
    rle = bytes([0x82]) + bgr[:3] + bytes([0x02]) + bgr[9:18]
    put("picture_tga", "rle.tga", struct.pack("<BBBHHBHHHHBB", 0, 0, 10, 0, 0, 0, 0, 0, 3, 2, 24, 0) + rle)
    # Grey with alpha, top-down, run-length packets that cross a row.
    put("picture_tga", "la.tga", struct.pack("<BBBHHBHHHHBB", 0, 0, 11, 0, 0, 0, 0, 0, 2, 2, 16, 0x28) +
        bytes([0x82, 200, 100, 0x00, 7, 255]))


def pictures_magick():
    exts = "pcx sgi rla ppm pgm pbm psd pcd cut wmf fax".split()
    rgb = b"".join(bytes(p) for row in PIXELS for p in row)
    put("picture_magick", "p6.ppm", b"P6\n3 2\n255\n" + rgb, exts.index("ppm"))
    put("picture_magick", "p3.ppm", b"P3 3 2 255 255 0 0 0 255 0 0 0 255 255 255 255 0 0 0 128 64 32\n", exts.index("ppm"))
    put("picture_magick", "p5.pgm", b"P5\n3 2\n255\n\0\x40\x80\xc0\xff\x10", exts.index("pgm"))
    put("picture_magick", "p4.pbm", b"P4\n3 2\n\xa0\x40", exts.index("pbm"))
    # Photoshop, 2 x 1 RGB, raw planes.
    psd = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 1, 2, 8, 3) + b"\0" * 12 + b"\0\0" + bytes([250, 10, 20, 30, 40, 50])
    put("picture_magick", "rgb.psd", psd, exts.index("psd"))
    sgi = struct.pack(">HBBHHHHII4s80sI", 474, 0, 1, 3, 3, 2, 3, 0, 255, b"", b"seed", 0) + b"\0" * 404
    planes = b"".join(bytes(p[c] for row in reversed(PIXELS) for p in row) for c in range(3))
    put("picture_magick", "rgb.sgi", sgi + planes, exts.index("sgi"))
    # PCX, 8 bits, one plane, RLE rows of 4 bytes, 256-colour palette at the end.
    hdr = struct.pack("<BBBBHHHHHH", 10, 5, 1, 8, 0, 0, 2, 1, 72, 72) + b"\0" * 48 + struct.pack("<BBHHHH", 0, 1, 4, 1, 0, 0) + b"\0" * 54
    body = bytes([0, 1, 2, 0, 0xC2, 3, 4, 5])
    put("picture_magick", "pal8.pcx", hdr + body + b"\x0c" + bytes(range(256)) * 3, exts.index("pcx"))


def pictures_vector():
    put("picture_svg", "shapes.svg",
        b'<?xml version="1.0"?>\n<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink" '
        b'width="12" height="8" viewBox="0 0 24 16"><defs><linearGradient id="g"><stop offset="0" stop-color="red"/>'
        b'<stop offset="1" stop-color="blue" stop-opacity="0.5"/></linearGradient></defs>'
        b'<rect width="24" height="16" fill="url(#g)"/><circle cx="12" cy="8" r="5" fill="#0f0" stroke="black"/>'
        b'<use xlink:href="#c" x="2"/><text x="1" y="14" font-size="4">Aa</text>'
        b'<path id="c" d="M1 1 L5 1 Q7 4 5 7 Z" fill="none" stroke="#333"/></svg>\n')
    put("picture_svg", "viewbox.svg", b'<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 3 2"><rect width="3" height="1"/></svg>')
    content = b"1 0 0 rg 0 0 36 36 re f 0 0 1 RG 2 w 0 0 m 72 36 l S BT /F1 12 Tf 4 20 Td (Aa) Tj ET"
    objects = [b"<< /Type /Catalog /Pages 2 0 R >>", b"<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
               b"<< /Type /Page /Parent 2 0 R /MediaBox [0 0 72 36] /Contents 4 0 R "
               b"/Resources << /Font << /F1 5 0 R >> >> >>",
               b"<< /Length %d >>\nstream\n" % len(content) + content + b"\nendstream",
               b"<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"]
    pdf, offsets = b"%PDF-1.4\n", []
    for i, o in enumerate(objects):
        offsets.append(len(pdf))
        pdf += b"%d 0 obj\n" % (i + 1) + o + b"\nendobj\n"
    xref = len(pdf)
    pdf += b"xref\n0 %d\n0000000000 65535 f \n" % (len(objects) + 1) + b"".join(b"%010d 00000 n \n" % o for o in offsets)
    pdf += b"trailer\n<< /Size %d /Root 1 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (len(objects) + 1, xref)
    put("picture_pdf", "page.pdf", pdf)


def blocks():
    put("pixeldata", "two_by_two", struct.pack("<ii", 2, 2) + bytes(range(16)))
    put("pixeldata", "empty", struct.pack("<ii", 0, 0))
    put("pixeldata", "negative", struct.pack("<ii", -1, 5))
    put("pixeldata", "short", struct.pack("<ii", 100, 100) + bytes(20))


if __name__ == "__main__":
    pictures_bmp()
    pictures_ico()
    pictures_png()
    pictures_gif()
    pictures_tiff()
    pictures_tga()
    pictures_magick()
    pictures_vector()
    blocks()
