#!/usr/bin/env python3
"""Checks of the Python reference host on the rules where a slip would
still let it agree with ours on the benchmark data, and so go unnoticed by
the bench's byte comparison. scripts/bench runs them before measuring."""
import os
import tempfile
import unittest

import reference_host as host


class ContentHashTest(unittest.TestCase):
    def test_worked_example(self):
        colors = [{"id": "c1", "name": "Red", "hex": "#ff0000", "isAutoNamed": True},
                  {"id": "c2", "hex": "#00FF00"}]
        text = "Warm|C1:Red:#ff0000:true|C2::#00FF00:false"
        self.assertEqual(host.content_hash("Warm", colors),
                         host.hashlib.sha256(text.encode()).hexdigest())

    def test_odd_colour_entries(self):
        # Only strings count, only true is true, and the id is upper-cased in full.
        expected = host.hashlib.sha256("|:::false|SS:::false".encode()).hexdigest()
        self.assertEqual(host.content_hash("", [42, {"id": "\u00df", "name": 7,
                                                     "isAutoNamed": 1}]), expected)


class MergeTest(unittest.TestCase):
    def test_next_revision(self):
        cases = {41: 42, -3: -2, None: 1, 2.5: 1, 3.0: 1, "7": 1, True: 1, 2**63: 1,
                 2**63 - 1: 2**63 - 1}
        for stored, expected in cases.items():
            self.assertEqual(host.next_revision(stored), expected, stored)

    def test_update_keeps_stored_members(self):
        stored = {"id": "a", "createdAt": 1.0, "createdBy": "desk", "deleted": True,
                  "extra": [1], "revision": 4, "name": "old", "isLocked": True}
        record = host.merge_template({"id": "a", "isLocked": "yes"}, {"a": stored}, 9.0, "dev")
        self.assertEqual(record["revision"], 5)
        self.assertEqual((record["name"], record["isLocked"], record["colors"]), ("", False, []))
        self.assertEqual((record["deleted"], record["extra"], record["createdAt"]),
                         (True, [1], 1.0))
        self.assertEqual(stored["name"], "old")

    def test_new_record(self):
        record = host.merge_template(5, {}, 9.0, "dev")
        self.assertEqual(sorted(record), sorted(
            ["id", "name", "colors", "isLocked", "contentHash", "createdAt", "createdBy",
             "lastModified", "modifiedBy", "revision", "deleted", "deletedAt", "deletedBy"]))
        self.assertEqual((record["id"], record["revision"], record["createdAt"]), ("", 1, 9.0))


class TextTest(unittest.TestCase):
    def test_numbers_keep_their_kind(self):
        value = host.parse(b'[1, -1, 1.0, 18446744073709551616, 1e2]')
        self.assertEqual([type(v) for v in value], [int, int, float, float, float])
        self.assertEqual(host.compact({"b": 0.0, "a": 1733600000000.0}),
                         b'{"a":1733600000000.0,"b":0.0}')

    def test_refuses_what_is_not_json(self):
        for text in (b"NaN", b'{"a":1} x', b'"\xff"', b"\xef\xbb\xbf{}"):
            self.assertIsNone(host.parse(text), text)

    def test_views_hide_deleted_and_fill_defaults(self):
        stored = [{"deleted": True}, {"deleted": "true", "id": None, "colors": [42]}, "s"]
        self.assertEqual(host.visible_templates(stored), [
            {"colors": [{"hex": "", "id": "", "isAutoNamed": False, "isLocked": False,
                         "name": ""}], "id": None, "isLocked": False, "name": ""}, "s"])


class StorageTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.files = host.StorageFiles(os.path.join(self.dir, "storage.json"))

    def write(self, name, data):
        with open(os.path.join(self.dir, name), "wb") as out:
            out.write(data)

    def read(self, name):
        with open(os.path.join(self.dir, name), "rb") as source:
            return source.read()

    def test_unreadable_file_falls_back_to_backup_and_restores_it(self):
        self.write("storage.json", b"{}")
        self.write("storage.json.bak", b'{"a":1}')
        self.assertEqual(self.files.load(), {"a": 1})
        self.assertEqual(self.read("storage.json"), b'{"a":1}')

    def test_update_keeps_a_backup_and_leaves_no_temporary_file(self):
        self.write("storage.json", b'{"window":{"w":1}}')
        host.update_storage(self.files, {"templates": [], "lastModified": 5})
        self.assertEqual(self.read("storage.json.bak"), b'{"window":{"w":1}}')
        self.assertEqual(self.read("storage.json"), b'{\n  "tolvanik_active_template": "",\n'
                         b'  "tolvanik_last_modified": 5.0,\n  "tolvanik_templates": [],\n'
                         b'  "window": {\n    "w": 1\n  }\n}')
        self.assertFalse(os.path.exists(os.path.join(self.dir, "storage.json.tmp")))

    def test_no_templates_touches_nothing(self):
        host.update_storage(self.files, {"templates": {}})
        self.assertEqual(os.listdir(self.dir), [])


if __name__ == "__main__":
    unittest.main()
