#!/usr/bin/env python3
"""Reads documents as a guest's cloud-init does and prints what it got.

    read_back.py yaml|json FILE...

YAML through PyYAML's safe loader (YAML 1.1, as cloud-init loads it), JSON
through Python's json (duplicate keys refused). Prints a JSON array, one
element per file: texts, integers, booleans and nulls as themselves, any other
type as {"!<type>": text}, a map key that is no text as "!<type>:<text>".
"""
import json
import sys

import yaml


def plain(value):
    if isinstance(value, dict):
        return {k if isinstance(k, str) else f"!{type(k).__name__}:{k}": plain(v)
                for k, v in value.items()}
    if isinstance(value, list):
        return [plain(v) for v in value]
    if value is None or isinstance(value, (str, bool, int)):
        return value
    return {"!" + type(value).__name__: str(value)}


def unique_keys(pairs):
    keys = [k for k, _ in pairs]
    if len(keys) != len(set(keys)):
        raise ValueError(f"duplicate keys in {keys}")
    return dict(pairs)


def main():
    if len(sys.argv) < 2 or sys.argv[1] not in ("yaml", "json"):
        sys.exit(__doc__)
    documents = []
    for path in sys.argv[2:]:
        with open(path, "rb") as f:
            text = f.read().decode("utf-8")
        if sys.argv[1] == "yaml":
            documents.append(plain(yaml.safe_load(text)))
        else:
            documents.append(plain(json.loads(text, object_pairs_hook=unique_keys)))
    json.dump(documents, sys.stdout)


if __name__ == "__main__":
    main()
