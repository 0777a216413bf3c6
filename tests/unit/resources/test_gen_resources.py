"""Checks of the resource generator that the generated data alone cannot show: its refusals,
the fallback when a compressed stream holds a forbidden sequence, and the icon's layout.
Standard library only, like the generator: python3 -m unittest test_gen_resources."""

import os
import struct
import sys
import tempfile
import unittest
import zlib
from unittest import mock

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "..", "resources"))
import gen_resources  # noqa: E402
import icon  # noqa: E402


class TextFiles(unittest.TestCase):
    def test_unescape_knows_line_feed_and_backslash(self):
        cases = [
            (r"a\nb", "a\nb"),
            (r"\\TEMP", "\\TEMP"),
            (r"\\n", "\\n"),          # an escaped backslash followed by a plain n
            (r'"%s" quoted', '"%s" quoted'),
        ]
        for written, meant in cases:
            with self.subTest(written=written):
                self.assertEqual(gen_resources.unescape(written, "here"), meant)

    def test_unescape_refuses_other_escapes(self):
        for written in (r"\t", "ends in \\", r"\x41"):
            with self.subTest(written=written), self.assertRaises(SystemExit):
                gen_resources.unescape(written, "here")

    def read_table(self, ids):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "messages.txt")
            with open(path, "w", encoding="utf-8") as table:
                table.write("# comment\n" + "".join('%d "text %d"\n' % (i, i) for i in ids))
            return gen_resources.read_messages(path)

    def test_message_table_needs_every_id_once_in_order(self):
        cases = {
            "one missing": range(53),
            "out of order": [1, 0] + list(range(2, 54)),
            "one too many": list(range(55)),
        }
        for name, ids in cases.items():
            with self.subTest(name), self.assertRaises(SystemExit):
                self.read_table(ids)

    def test_message_table_reads_all_ids(self):
        texts = self.read_table(range(54))
        self.assertEqual((texts[0], texts[53]), ("text 0", "text 53"))

    def test_texts_without_a_stored_form_stop_the_build(self):
        cases = [
            ("Preis 5 \u20ac", "cp850"),    # the euro sign has no code page 850 form
            ("zwei\r\nZeilen", "cp850"),
            ("\u0142", "cp1252"),
        ]
        for text, codec in cases:
            with self.subTest(text=text), self.assertRaises(SystemExit):
                gen_resources.encode_text(text, codec, "test")


class Compression(unittest.TestCase):
    def test_falls_back_when_the_best_stream_holds_a_signature(self):
        data = b"Extrahiere %s\0" * 20
        real = gen_resources.deflate_raw
        calls = []

        def first_one_dirty(payload, level, mem_level, strategy):
            calls.append(level)
            stream = real(payload, level, mem_level, strategy)
            return stream + b"PK\x05\x06" if len(calls) == 1 else stream

        with mock.patch.object(gen_resources, "deflate_raw", first_one_dirty):
            stream = gen_resources.compress_clean(data, "test")
        self.assertEqual(len(calls), 2)
        self.assertEqual(zlib.decompress(stream, -15), data)

    def test_stops_the_build_when_no_setting_is_clean(self):
        with mock.patch.object(gen_resources, "deflate_raw", lambda *args: b"\x03\x00TVK\x01sfx\x02"):
            with self.assertRaises(SystemExit):
                gen_resources.compress_clean(b"x", "test")


class Limits(unittest.TestCase):
    def test_text_part_that_crowds_out_the_template_copy_stops_the_build(self):
        template = 678
        fits = gen_resources.MESSAGE_BLOCK_GUARD_OFFSET - gen_resources.MAIN_TEMPLATE_COPY_SIZE
        gen_resources.check_limits(b"\0" * (fits + template), [0] * 54 + [fits], template, 432)
        with self.assertRaises(SystemExit):
            gen_resources.check_limits(b"\0" * (fits + 1 + template), [0] * 54 + [fits + 1], template, 432)

    def test_password_template_larger_than_its_block_stops_the_build(self):
        with self.assertRaises(SystemExit):
            too_large = gen_resources.PASSWORD_TEMPLATE_BLOCK_SIZE + 1
            gen_resources.check_limits(b"\0" * 100, [0] * 55, 100, too_large)


class Icon(unittest.TestCase):
    def test_holds_16_and_32_pixel_images_with_a_palette_and_a_mask(self):
        data = icon.build_icon()
        self.assertLess(len(data), 2 * 1024)
        self.assertEqual(struct.unpack_from("<HHH", data, 0), (0, 1, 2))
        for index, size in enumerate((16, 32)):
            with self.subTest(size=size):
                width, height, colours, _, planes, bits, length, offset = struct.unpack_from(
                    "<BBBBHHII", data, 6 + 16 * index)
                self.assertEqual((width, height, colours, planes, bits), (size, size, 0, 1, 8))
                header = struct.unpack_from("<IiiHHIIiiII", data, offset)
                self.assertEqual(header[:6], (40, size, 2 * size, 1, 8, 0))
                used = header[9]
                mask_size = (size + 31) // 32 * 4 * size
                self.assertEqual(length, 40 + 4 * used + size * size + mask_size)
                pixels = data[offset + 40 + 4 * used:offset + 40 + 4 * used + size * size]
                mask = data[offset + length - mask_size:offset + length]
                self.assertLess(max(pixels), used)

                def transparent(x, y):  # rows are stored bottom-up
                    row = size - 1 - y
                    return mask[row * mask_size // size + x // 8] >> (7 - x % 8) & 1 == 1
                # A transparent top-left corner and a drawn middle: a shape, not an empty or a
                # filled square; and more than two colours, so the edges stay soft.
                self.assertTrue(transparent(0, 0))
                self.assertFalse(transparent(size // 2, size // 2))
                self.assertGreater(len(set(pixels)), 8)


if __name__ == "__main__":
    unittest.main()
