"""The browser suite's Firefox driver and the files it packs."""
