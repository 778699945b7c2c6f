"""The benchmark's storage document and requests: templates of 12 colours
the way the desktop application stores them, and the extension's
"setColors" that writes the same templates back."""
import json

COLORS = 12
STAMP = 1733600000000.0


def record(t):
    colors = [{"hex": "#%06x" % ((t * 7919 + c * 104729) % 0xFFFFFF),
               "id": "color-%d-%d" % (t, c), "isAutoNamed": c % 3 == 0, "isLocked": False,
               "name": "Colour %d of template %d" % (c, t)} for c in range(COLORS)]
    return {"colors": colors, "contentHash": "0" * 64, "createdAt": STAMP,
            "createdBy": "desk", "deleted": t % 50 == 0, "deletedAt": None, "deletedBy": None,
            "id": "template-%04d" % t, "isLocked": False, "lastModified": STAMP,
            "modifiedBy": "desk", "name": "Template %d" % t, "revision": 3}


def document(templates):
    return {"tolvanik_active_template": "template-0001", "tolvanik_last_modified": STAMP,
            "tolvanik_sync_config": {"deviceId": "desk"},
            "tolvanik_templates": [record(t) for t in range(templates)],
            "window": {"height": 600, "width": 800}}


def storage_text(templates):
    """The document as the desktop application leaves it: pretty-printed."""
    return json.dumps(document(templates), indent=2, sort_keys=True).encode()


def compact(message):
    return json.dumps(message, separators=(",", ":")).encode()


def set_colors(templates):
    """The payload of a "setColors" with every stored template's view."""
    views = [{k: r[k] for k in ("colors", "id", "isLocked", "name")}
             for r in document(templates)["tolvanik_templates"]]
    return compact({"type": "setColors", "activeTemplateId": "template-0001",
                    "lastModified": STAMP + 1000, "templates": views})


GET_STATUS = compact({"type": "getStatus"})
PING = compact({"type": "ping"})
