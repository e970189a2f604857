#!/bin/sh
# Rebuilds inflate_encrypted.zip: one deflated entry encrypted with the
# traditional PKWARE cipher by Info-ZIP zip, password "pw-inflate", over
# text that python3 makes deterministically.
set -e
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
python3 -c "
import random
r = random.Random(2024)
words = ['tablet', 'syrup', 'dose', 'stock', 'invoice', 'patient', 'batch', 'expiry']
print(' '.join(r.choice(words) for _ in range(6000)))
" > "$work/data.txt"
(cd "$work" && zip -q -X -9 -P pw-inflate enc.zip data.txt)
cp "$work/enc.zip" "$here/inflate_encrypted.zip"
